// Parsing tarnlight-cli's command line and running the command it names.

#include "CliOwner.h"
#include "Formats.h"
#include "Names.h"
#include "Verb.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#ifndef TARNLIGHT_VERSION
#define TARNLIGHT_VERSION "unknown"
#endif

namespace {

std::size_t EditDistance(const std::string& a, const std::string& b) {
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j)
        row[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] != b[j - 1])});
            diagonal = above;
        }
    }
    return row[b.size()];
}

// A first argument that is no option and no command is a typo more often
// than not: it is named with the closest command.
const Verb* NamedVerb(std::span<const Verb> verbs, const std::string& given, std::string& error) {
    const Verb* closest = nullptr;
    std::size_t best = 99;
    for (const Verb& verb : verbs) {
        if (given == verb.name || (verb.alias != nullptr && given == verb.alias))
            return &verb;
        if (const std::size_t distance = EditDistance(given, verb.name); distance < best) {
            best = distance;
            closest = &verb;
        }
    }
    error = "unknown command '" + given + "'";
    if (closest != nullptr && best <= 2)
        error += std::string(" (did you mean '") + closest->name + "'?)";
    return nullptr;
}

// Output that never reached its file (a full disk, /dev/full) is a failure
// too; it shows only when the buffer is flushed and closed.
int WithOutputFlushed(int status) {
    if (std::fflush(stdout) != 0 || std::ferror(stdout) || std::fclose(stdout) != 0) {
        std::fprintf(stderr, "ERROR: write error: %s\n", std::strerror(errno));
        status = std::max(status, int{kExitFailed});
    }
    return status;
}

} // namespace

int UsageError(const std::string& text) {
    std::fprintf(stderr, "ERROR: %s\nRun with --help for usage.\n", Printable(text).c_str());
    return kExitUsage;
}

void AddWalkOptions(CLI::App& command, bool& json, bool& recursive, unsigned& jobs,
                    const char* jsonHelp) {
    command.add_flag("--json", json, jsonHelp);
    command.add_flag("-r,--recursive", recursive, "Walk folders recursively");
    command
        .add_option("-j,--jobs", jobs, "Worker processes for many images (default: one per core)")
        ->check(CLI::Range(1, 256));
}

void AddKeepGoing(CLI::App& command, bool& keepGoing, const std::string& done) {
    command.add_flag("--keep-going", keepGoing,
                     "Keep the files " + done + " when one cannot be (without it, nothing is " +
                         done + " then)");
}

CLI::Validator FormatNameValidator() {
    return CLI::Validator(
        [](std::string& name) -> std::string {
            return FormatNamed(name) != nullptr
                       ? ""
                       : "no format is named " + name + " (tarnlight-cli formats lists them)";
        },
        "FORMAT");
}

bool TakeArgsAfterDashes(std::vector<char*>& args, std::vector<std::string>& taken) {
    const auto dashes = std::find_if(args.begin() + 1, args.end(),
                                     [](const char* a) { return std::strcmp(a, "--") == 0; });
    if (dashes == args.end())
        return false;
    taken.assign(dashes + 1, args.end());
    args.erase(dashes, args.end());
    return true;
}

int RunCommandLine(std::span<const Verb> verbs, int argc, char** argv) {
    CLI::App app{"Tarnlight: list, extract, add and delete files in +3DOS, PCW and CPC "
                 "disk images (.dsk). Every change is written to the image at once."};
    app.name("tarnlight-cli");
    app.set_version_flag("-V,--version", "tarnlight-cli " TARNLIGHT_VERSION);
    app.require_subcommand(1);
    app.footer("Files on an image are named [USER:]PATTERN (USER 0-15 or *; every user when "
               "left out). Quote patterns so that the shell leaves them alone: '*.BAS'.\n"
               "Run tarnlight-cli COMMAND --help for a command's options and examples.\n\n"
               "Exit status: 0 success, 1 an operation failed, 2 usage error.");

    std::vector<char*> args(argv, argv + argc);
    // When the first argument names a command, only that command is set up:
    // building every command's options would cost more than a listing.
    std::string formatName;
    const auto add = [&app, &formatName](const Verb& verb) {
        CLI::App* command = app.add_subcommand(verb.name, verb.description);
        if (verb.alias != nullptr)
            command->alias(verb.alias);
        if (verb.readsImages)
            command
                ->add_option("--format", formatName,
                             "Read the image as this format whatever its first sector says "
                             "(tarnlight-cli formats lists them): a ROMDOS D1 or Vortex disk, or "
                             "one whose boot sector lost its disk specification")
                ->check(FormatNameValidator());
        return command;
    };
    VerbRun run;
    if (argc > 1 && argv[1][0] != '-') {
        std::string error;
        const Verb* named = NamedVerb(verbs, argv[1], error);
        if (named == nullptr)
            return UsageError(error);
        run = named->define(*add(*named), args);
    } else {
        for (const Verb& verb : verbs)
            verb.define(*add(verb), args);
    }
    try {
        app.parse(static_cast<int>(args.size()), args.data());
    } catch (const CLI::Success& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        app.exit(e);
        return kExitUsage;
    }
    if (!run)
        return kExitUsage;
    // The library is loaded only once a command runs, so --help stays light.
    CCliOwner owner;
    if (!formatName.empty())
        owner.Image().NameFormat(FormatNamed(formatName));
    const int status = run(owner);
    // (What the image told as the command ended, a change rolled back.)
    owner.SayNotices();
    return WithOutputFlushed(status);
}
