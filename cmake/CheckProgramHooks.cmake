# Reads the texts and symbol names of a built program and checks what it
# holds of the test hooks:
#   cmake -DPROGRAM=<file> -DHOOKS=ON|OFF -P CheckProgramHooks.cmake
# Never, whatever the build: the name of an environment variable of ours
# (VOSTREL_...), the way a test once steered the program.
# HOOKS=OFF (a build without tests, the program the package holds): none of
# the hooks' setters (visible while the program is not stripped) and not the
# test switch --dialog-log.
# HOOKS=ON (a test build): the test switch is found, so the reading sees what
# it looks for.
cmake_minimum_required(VERSION 3.25)
set(variable "(^|[^A-Za-z0-9_])VOSTREL_[A-Z0-9_]+")
set(hooks "SetFaultInjector|SetReencryptStepHook|SetBackupCopyHook|SetRestoreStepHook|"
          "SetSendJournalStepHook|SetKeyScheduleCacheEnabled|--dialog-log")
string(JOIN "" hooks ${hooks})
if(NOT EXISTS "${PROGRAM}")
  message(FATAL_ERROR "no program ${PROGRAM}")
endif()
# Texts of one byte a character (C strings, symbol names) and of Qt's
# QStringLiteral (UTF-16).
file(STRINGS "${PROGRAM}" found REGEX "${variable}|${hooks}")
file(STRINGS "${PROGRAM}" found16 ENCODING UTF-16LE REGEX "${variable}|${hooks}")
list(APPEND found ${found16})

set(variables "")
set(hooksFound "")
foreach(text IN LISTS found)
  if(text MATCHES "${variable}")
    string(REGEX MATCH "VOSTREL_[A-Z0-9_]+" name "${text}")
    list(APPEND variables "${name}")
  endif()
  if(text MATCHES "${hooks}")
    list(APPEND hooksFound "${CMAKE_MATCH_0}")
  endif()
endforeach()
list(REMOVE_DUPLICATES variables)
list(REMOVE_DUPLICATES hooksFound)

if(variables)
  message(FATAL_ERROR "${PROGRAM} names the variables ${variables}")
endif()
if(HOOKS)
  if(NOT "--dialog-log" IN_LIST hooksFound)
    message(FATAL_ERROR "${PROGRAM} of a test build lacks its test switch --dialog-log")
  endif()
elseif(hooksFound)
  message(FATAL_ERROR "${PROGRAM} holds the test hooks ${hooksFound}")
endif()
