#include "test_build.h"

#include <sys/stat.h>
#include <unistd.h>

const test_build *native_build() {
  static const test_build build = {"native", BIN_DIR, "", "\n", "\n", false, 20000};
  return &build;
}

// The first Wine run may have to make the prefix, which takes many seconds.
const test_build *wine_build() {
  static const test_build build = {"wine", WIN64_BIN_DIR, ".exe", "\r\n", "\r", true, 120000};
  return &build;
}

std::vector<const test_build *> configured_builds() {
  std::vector<const test_build *> builds = {native_build()};
  if (!wine_build()->bin.empty()) builds.push_back(wine_build());
  return builds;
}

std::vector<const test_build *> windows_builds() {
  if (wine_build()->bin.empty()) return {};
  return {wine_build()};
}

std::string build_name(const testing::TestParamInfo<const test_build *> &info) { return info.param->name; }

std::string build_missing(const test_build *build) {
  if (!build->wine) return "";
  struct stat st;
  if (build->bin.empty()) return "this build runs no Windows programs (WIN64_BIN_DIR is empty)";
  if (access("/usr/lib/wine/wine64", X_OK) != 0)
    return "/usr/lib/wine/wine64 not found (Debian package: wine64)";
  if (stat(build->bin.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
    return build->bin + " not found: build the win64 preset first";
  return "";
}

std::string program_path(const test_build *build, const std::string &name) {
  return build->bin + "/" + name + build->suffix;
}

std::vector<std::string> build_command(const test_build *build, const std::string &path,
                                       const std::vector<std::string> &args) {
  std::vector<std::string> command;
  if (build->wine) command = {"/bin/sh", WINE_RUN, WINE_PREFIX};
  command.push_back(path);
  command.insert(command.end(), args.begin(), args.end());
  return command;
}

std::string wine_prefix() { return WINE_PREFIX; }

std::string console_text(const test_build *build, const std::string &text) {
  std::string out;
  for (char c : text) out += c == '\n' ? build->line_end : std::string(1, c);
  return out;
}

std::vector<std::string> split_lines(const std::string &text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
    lines.push_back(text.substr(start, end > start && text[end - 1] == '\r' ? end - 1 - start : end - start));
  if (start < text.size()) lines.push_back(text.substr(start));
  return lines;
}
