#include "child.h"

#include <windows.h>

#include <string>
#include <vector>

std::string child_program_file(const char *name) { return std::string(name) + ".exe"; }

int start_child(const char *name, const child_stdio *stdio, child_process *child, int *error) {
  // As the application name, without a path: the current directory only,
  // and the child's command line is the name alone.
  std::string file = child_program_file(name);
  // Fetched afresh for each child, so nothing of the previous start remains.
  STARTUPINFOA startup;
  GetStartupInfoA(&startup);
  startup.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
  startup.hStdInput = (HANDLE)stdio->input;
  startup.hStdOutput = (HANDLE)stdio->output;
  startup.hStdError = (HANDLE)stdio->error;

  // Inheritance is on for the start, but the child gets only its three
  // handles: those are made inheritable for the start (pipe ends are born
  // non-inheritable) and put back as they were afterwards, and the attribute
  // list keeps any other inheritable handle of ours from the child. All flags
  // are read first, as a handle may appear twice.
  HANDLE handles[3] = {startup.hStdInput, startup.hStdOutput, startup.hStdError};
  DWORD flags[3];
  BOOL known[3];
  HANDLE inherited[3];
  DWORD inherited_count = 0;
  for (int i = 0; i < 3; ++i) {
    known[i] = GetHandleInformation(handles[i], &flags[i]);
    bool listed = false;
    for (DWORD j = 0; j < inherited_count; ++j) listed = listed || inherited[j] == handles[i];
    if (known[i] && !listed) inherited[inherited_count++] = handles[i];
  }
  for (int i = 0; i < 3; ++i)
    if (known[i]) SetHandleInformation(handles[i], HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);

  STARTUPINFOEXA extended = {};
  extended.StartupInfo = startup;
  extended.StartupInfo.cb = sizeof extended;
  SIZE_T list_size = 0;
  InitializeProcThreadAttributeList(nullptr, 1, 0, &list_size);
  std::vector<char> list(list_size);
  extended.lpAttributeList = (LPPROC_THREAD_ATTRIBUTE_LIST)list.data();
  bool narrowed = InitializeProcThreadAttributeList(extended.lpAttributeList, 1, 0, &list_size) &&
                  UpdateProcThreadAttribute(extended.lpAttributeList, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST,
                                            inherited, inherited_count * sizeof(HANDLE), nullptr, nullptr);
  PROCESS_INFORMATION process = {};
  BOOL started = FALSE;
  if (narrowed) {
    started = CreateProcessA(file.c_str(), nullptr, nullptr, nullptr, TRUE,
                             CREATE_NEW_CONSOLE | EXTENDED_STARTUPINFO_PRESENT, nullptr, nullptr,
                             &extended.StartupInfo, &process);
    DeleteProcThreadAttributeList(extended.lpAttributeList);
  }
  // Systems that refuse the list (older ones reject console handles in it)
  // still start the child, with our other inheritable handles.
  if (!started)
    started = CreateProcessA(file.c_str(), nullptr, nullptr, nullptr, TRUE, CREATE_NEW_CONSOLE, nullptr,
                             nullptr, &startup, &process);
  // Taken before the flags are put back, which may overwrite it.
  DWORD start_error = started ? 0 : GetLastError();
  for (int i = 0; i < 3; ++i)
    if (known[i]) SetHandleInformation(handles[i], HANDLE_FLAG_INHERIT, flags[i] & HANDLE_FLAG_INHERIT);
  if (!started) {
    *error = (int)start_error;
    return -1;
  }
  child->process = (os_handle)process.hProcess;
  child->thread = (os_handle)process.hThread;
  return 0;
}

void close_child(child_process *child) {
  CloseHandle((HANDLE)child->thread);
  CloseHandle((HANDLE)child->process);
}
