#include "core/ErrorReporting.h"

#include "core/DialogService.h"

namespace vostrel {

void ReportError(QWidget *parent, const std::exception &e)
{
    ShowError(parent, QString::fromUtf8(e.what()));
}

bool RunGuarded(QWidget *parent, const std::function<void()> &action)
{
    try {
        action();
        return true;
    } catch (const std::exception &e) {
        ReportError(parent, e);
    } catch (...) {
        ShowError(parent, QStringLiteral("予期しないエラーが発生しました"));
    }
    return false;
}

} // namespace vostrel
