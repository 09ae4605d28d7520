// The source editor component. Its headers use the words slots and signals,
// which this program's build reserves (QT_NO_KEYWORDS): include them here.
#pragma once

#define slots Q_SLOTS
#define signals Q_SIGNALS
#include <Qsci/qscilexerhtml.h>
#include <Qsci/qsciscintilla.h>
#undef signals
#undef slots
