#include <windows.h>

#include <stdexcept>

#include "command_line_windows.h"
#include "process.h"

namespace {

HANDLE inheritableFile(const std::string& path, DWORD access, DWORD disposition) {
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE file = CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                            disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot open " + path);
  return file;
}

// The handle to give the child as its standard output, or null for none.
HANDLE outputFor(OutputSink sink, const std::string& capturePath) {
  if (sink == OutputSink::closed) return nullptr;
  if (sink != OutputSink::closedPipe) {
    // Only Wine has a full device: its drive Z: is the Unix root.
    const char* const paths[] = {capturePath.c_str(), "NUL", "Z:\\dev\\full"};
    return inheritableFile(paths[static_cast<int>(sink)], GENERIC_WRITE,
                           sink == OutputSink::capture ? CREATE_ALWAYS : OPEN_EXISTING);
  }
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE reader, writer;
  if (!CreatePipe(&reader, &writer, &inherit, 0)) throw std::runtime_error("CreatePipe");
  CloseHandle(reader);  // a reader gone before anything is written
  return writer;
}

}  // namespace

ProcessResult runProcess(const std::vector<std::string>& argv, OutputSink sink) {
  const std::string outPath = scratchPath("stdout");
  const std::string errPath = scratchPath("stderr");
  HANDLE input = inheritableFile("NUL", GENERIC_READ, OPEN_EXISTING);
  HANDLE out = outputFor(sink, outPath);
  HANDLE err = inheritableFile(errPath, GENERIC_WRITE, CREATE_ALWAYS);

  std::string line;
  for (const std::string& arg : argv) appendArgument(line, arg);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = input;
  startup.hStdOutput = out;
  startup.hStdError = err;
  PROCESS_INFORMATION process{};
  const BOOL started = CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                      nullptr, &startup, &process);
  CloseHandle(input);
  if (out != nullptr) CloseHandle(out);
  CloseHandle(err);
  if (!started) throw std::runtime_error("cannot start " + argv[0]);

  const bool ended =
      WaitForSingleObject(process.hProcess, kProcessTimeLimitSeconds * 1000) == WAIT_OBJECT_0;
  if (!ended) TerminateProcess(process.hProcess, 1);
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD status = 0;
  GetExitCodeProcess(process.hProcess, &status);
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  if (!ended) {
    throw std::runtime_error(argv[0] + " did not end within " +
                             std::to_string(kProcessTimeLimitSeconds) + " s and was stopped");
  }

  ProcessResult result{static_cast<int>(status), readFile(outPath), readFile(errPath)};
  DeleteFileA(outPath.c_str());
  DeleteFileA(errPath.c_str());
  return result;
}

// Access here is the caller's own; nothing switches users.
std::vector<std::string> withoutPrivilege(const std::vector<std::string>& argv) { return argv; }

bool usePrivateBlockFolder() { return false; }

std::string builtProgram(const std::string& name) {
  char self[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, self, MAX_PATH);
  std::string path(self, length);
  return path.substr(0, path.find_last_of("\\/") + 1) + name + ".exe";
}

std::string scratchPath(const std::string& leaf) {
  static unsigned counter = 0;
  char folder[MAX_PATH];
  GetTempPathA(MAX_PATH, folder);
  return std::string(folder) + "korvalen-test-" + std::to_string(GetCurrentProcessId()) + "-" +
         std::to_string(counter++) + "-" + leaf;
}

std::string textModeLines(const std::string& text) {
  std::string lines;
  for (char c : text) lines += c == '\n' ? "\r\n" : std::string(1, c);
  return lines;
}
