// The command line of the companion programs: CLI11 parses it, and bad usage is told the same way
// by each: status 64 and one line that begins with what was wrong, then where to look.
#ifndef KORVALEN_CLI_COMMAND_LINE_H
#define KORVALEN_CLI_COMMAND_LINE_H

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <iostream>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "exit_status.h"
#include "quoting.h"
#include "sensor_block.h"

// CLI11's help with the usage line first, then the description and the groups of options, one
// blank line between them. Each option shows its own placeholder, set with option_text, and the
// descriptions are wrapped by hand to fit 80 columns.
class HelpFormatter : public CLI::Formatter {
 public:
  explicit HelpFormatter(std::string usage) : usage_(std::move(usage)) { column_width(28); }
  std::string make_description(const CLI::App*) const override { return {}; }
  std::string make_usage(const CLI::App* app, std::string) const override {
    return "Usage: " + usage_ + "\n\n" + app->get_description() + "\n\n";
  }
  std::string make_group(std::string group, bool positional,
                         std::vector<const CLI::Option*> options) const override {
    return CLI::Formatter::make_group(std::move(group), positional, std::move(options)).substr(1);
  }
  std::string make_positionals(const CLI::App* app) const override {
    const std::string group = CLI::Formatter::make_positionals(app);
    return group.empty() ? group : group + "\n";
  }
  std::string make_option_opts(const CLI::Option* option) const override {
    return option->get_option_text().empty() ? "" : " " + option->get_option_text();
  }

 private:
  std::string usage_;
};

// `text` broken into lines of at most 79 columns, between words; a line feed in it stays one.
inline std::string wrapped(const std::string& text) {
  std::string lines, line;
  for (std::size_t from = 0; from < text.size();) {
    const std::size_t end = std::min(text.find_first_of(" \n", from), text.size());
    const std::string word = text.substr(from, end - from);
    if (!line.empty() && line.size() + 1 + word.size() > 79) {
      lines += line + "\n";
      line.clear();
    }
    line += (line.empty() ? "" : " ") + word;
    if (end < text.size() && text[end] == '\n') {
      lines += line + "\n";
      line.clear();
    }
    from = end + 1;
  }
  return lines + line;
}

// The description of a companion that reads the block: how each opens, then what `rest` says.
inline std::string companionDescription(const std::string& rest) {
  return wrapped(std::string("Reads the Korvalen monitor's block, ") + kSensorMappingName +
                 ", once, as korvalen-snapshot does, and " + rest);
}

// "Exit status: 0 what; 64 what; ..." for a help's footer, each status (from exit_status.h) with
// what it says of a run, after `lead` where one is given, wrapped.
inline std::string exitStatusHelp(std::initializer_list<std::pair<int, const char*>> statuses,
                                  const std::string& lead = "") {
  std::string text = "Exit status: " + lead;
  const char* separator = "";
  for (const auto& [status, meaning] : statuses) {
    text += separator + std::to_string(status) + " " + meaning;
    separator = "; ";
  }
  return wrapped(text + ".");
}

// Gives `app` that help, with `usage` (what follows "Usage: ") first, and --version, which
// prints the program's name, KORVALEN_VERSION and its licence.
inline void describeProgram(CLI::App& app, const std::string& usage) {
  app.formatter(std::make_shared<HelpFormatter>(usage));
  app.set_version_flag(
      "--version",
      app.get_name() + " " KORVALEN_VERSION
                       "\nMIT licence; see LICENSE, and THIRD-PARTY-NOTICES.txt for the code of\n"
                       "others that it carries.",
      "Print " + app.get_name() + "'s version and exit");
}

// Declares --sensors FILE, the operator's sensors file, into `path`, as every companion that
// shows the readings takes it.
inline void addSensorsOption(CLI::App& app, std::string& path) {
  app.add_option("--sensors", path,
                 "name, ignore and bound the readings as the TOML\nfile FILE says "
                 "(sensors.example.toml)")
      ->option_text("FILE");
}

// Prints a usage error of `program` about `message`, and returns kUsageStatus.
inline int usageError(const CLI::App& app, const std::string& message) {
  const char* program = app.get_name().c_str();
  std::fprintf(stderr, "%s: %s\nRun '%s --help' for the options.\n", program, message.c_str(),
               program);
  return kUsageStatus;
}

// Flushes what `program` wrote to std::cout since `errno` was last cleared. Returns 0, or
// kHelpUnwritten after one line on stderr when it did not reach standard output (a full disk,
// a closed pipe), as coreutils' programs fail then.
inline int finishStandardOutput(const std::string& program) {
  if (std::cout.flush()) return 0;
  const int error = errno;
  std::fprintf(stderr, "%s: cannot write to standard output%s%s\n", program.c_str(),
               error != 0 ? ": " : "", error != 0 ? std::strerror(error) : "");
  return kHelpUnwritten;
}

// Prints the help or the version that `request` asks for, as CLI11 would. Returns 0, or
// kHelpUnwritten as finishStandardOutput does.
inline int printRequested(CLI::App& app, const CLI::ParseError& request) {
  errno = 0;
  app.exit(request, std::cout, std::cerr);
  return finishStandardOutput(app.get_name());
}

// The usage error that a CLI::ArgumentMismatch stands for, in our words, told from what was
// parsed rather than from CLI11's message: the last of `words` an option that lacks its value,
// or an option given more often than it may be, or a list given more values than it takes.
inline std::string mismatchMessage(const CLI::App& app, const std::vector<std::string>& words) {
  const CLI::Option* last = words.empty() ? nullptr : app.get_option_no_throw(words.back());
  if (last != nullptr && last->get_items_expected_min() > 0)
    return last->get_name() + ": no value follows";
  for (const CLI::Option* option : app.get_options()) {
    const std::size_t most =
        static_cast<std::size_t>(std::max(option->get_items_expected_max(), 1));
    if (option->results().size() > most)
      return option->get_name() + (most > 1 ? ": too many values" : ": given more than once");
  }
  return "the options do not fit together";
}

// Parses the first `argc` words of `argv` with `app`. Returns the exit status to end with once
// help, the version or a usage error has been printed, or nothing to go on. `strayHint` follows
// the error about an argument that no option takes.
inline std::optional<int> parseCommandLine(CLI::App& app, int argc, char** argv,
                                           const char* strayHint) {
  const std::vector<std::string> words(argv + 1, argv + argc);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ExtrasError&) {
    const std::string extra = app.remaining().front();
    return usageError(app,
                      shownName(extra) + (extra.rfind('-', 0) == 0
                                              ? ": no such option"
                                              : ": unexpected argument" + std::string(strayHint)));
  } catch (const CLI::ArgumentMismatch&) {
    return usageError(app, mismatchMessage(app, words));
  } catch (const CLI::ValidationError& error) {
    return usageError(app, error.what());  // "OPTION: " and the validator's own words
  } catch (const CLI::ParseError& error) {
    if (error.get_exit_code() == 0) return printRequested(app, error);  // --help, --version
    // The validators take every value that would not convert, and no option is required.
    return usageError(app, "the command line cannot be read");
  }
  return std::nullopt;
}

#endif  // KORVALEN_CLI_COMMAND_LINE_H
