# Fails when a Windows wait in the platform layer or the window could last for ever: a
# GetOverlappedResult whose last argument is not FALSE (a waiting one hangs on a transfer the
# driver never ends), or a WaitFor.../MsgWaitFor... call given INFINITE. Each such call is
# read up to its closing parenthesis; one whose arguments nest too deep to be read here
# fails as well, rather than slip through unchecked.
#   cmake -DSOURCE_DIR=<project root> -P bounded_waits.cmake
if(NOT SOURCE_DIR)
  message(FATAL_ERROR "SOURCE_DIR not given")
endif()
file(GLOB_RECURSE sources ${SOURCE_DIR}/src/platform/*.cpp ${SOURCE_DIR}/src/platform/*.h
     ${SOURCE_DIR}/src/win/*.cpp ${SOURCE_DIR}/src/win/*.h)
if(NOT sources)
  message(FATAL_ERROR "no sources under ${SOURCE_DIR}/src/platform or src/win")
endif()

# A call with arguments holding at most two levels of parentheses.
set(inner "\\([^()]*\\)")
set(args "([^()]|\\(([^()]|${inner})*\\))*")
set(waits "(GetOverlappedResult|GetOverlappedResultEx|WaitForSingleObject|WaitForSingleObjectEx|WaitForMultipleObjects|WaitForMultipleObjectsEx|MsgWaitForMultipleObjects|MsgWaitForMultipleObjectsEx|SignalObjectAndWait)")

set(faults "")
set(checked 0)
foreach(source IN LISTS sources)
  file(READ ${source} text)
  file(RELATIVE_PATH shown ${SOURCE_DIR} ${source})
  # Every mention followed by an opening parenthesis is a call to be checked.
  string(REGEX MATCHALL "${waits}[ \t\r\n]*\\(" opened "${text}")
  string(REGEX MATCHALL "${waits}[ \t\r\n]*\\(${args}\\)" calls "${text}")
  list(LENGTH opened openedCount)
  list(LENGTH calls callCount)
  if(NOT openedCount EQUAL callCount)
    string(APPEND faults "\n  ${shown}: ${openedCount} wait calls, only ${callCount} could be read")
  endif()
  foreach(call IN LISTS calls)
    math(EXPR checked "${checked} + 1")
    string(REGEX REPLACE "[ \t\r\n]+" " " flat "${call}")
    if(flat MATCHES "^GetOverlappedResult[ ]*\\(")
      if(NOT flat MATCHES ",[ ]*FALSE[ ]*\\)$")
        string(APPEND faults "\n  ${shown}: waits without bound: ${flat}")
      endif()
    elseif(flat MATCHES "^GetOverlappedResultEx" OR flat MATCHES "INFINITE")
      string(APPEND faults "\n  ${shown}: waits without bound: ${flat}")
    endif()
  endforeach()
endforeach()

if(faults)
  message(FATAL_ERROR "Unbounded waits:${faults}")
endif()
message(STATUS "${checked} wait calls, every one bounded")
