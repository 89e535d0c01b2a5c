#pragma once
// A command of tarnlight-cli: its name, its options and how it runs. Each
// command's file makes its Verb; main() only lists them.

#include <CLI/CLI.hpp>

#include <functional>
#include <span>
#include <string>
#include <vector>

class CCliOwner;

enum ExitStatus { kExitOk = 0, kExitFailed = 1, kExitUsage = 2 };

// Runs a command once its options are parsed; returns the exit status.
using VerbRun = std::function<int(CCliOwner&)>;

struct Verb {
    const char* name;
    const char* description;
    // Adds the command's options to `command` and returns its run, which
    // reads them. `args` is the whole command line: a command that takes
    // what follows "--" itself takes it out.
    std::function<VerbRun(CLI::App& command, std::vector<char*>& args)> define;
    // Another name the command answers to ("optimize"), if any.
    const char* alias = nullptr;
    // The command reads images, and takes --format to read them by a
    // format named by the user.
    bool readsImages = true;
};

// Parses the command line against the verbs and runs the one named.
int RunCommandLine(std::span<const Verb> verbs, int argc, char** argv);

// "ERROR: TEXT" and a hint at --help on standard error; the usage status.
int UsageError(const std::string& text);
// --json, -r and -j of the commands that walk collections.
void AddWalkOptions(CLI::App& command, bool& json, bool& recursive, unsigned& jobs,
                    const char* jsonHelp);
// Checks a --format option's value: a known format's name or alias.
CLI::Validator FormatNameValidator();
// --keep-going of the commands that change several files in one change.
void AddKeepGoing(CLI::App& command, bool& keepGoing, const std::string& done);
// The arguments after "--" taken out of `args`; false when there is no "--".
bool TakeArgsAfterDashes(std::vector<char*>& args, std::vector<std::string>& taken);

Verb LsVerb();
Verb FindVerb();
Verb CheckVerb();
Verb InfoVerb();
Verb MapVerb();
Verb OptimiseVerb();
Verb CatVerb();
Verb ScreenVerb();
Verb TapeInVerb();
Verb TapeOutVerb();
Verb ConvertVerb();
Verb GetVerb();
Verb PutVerb();
Verb RmVerb();
Verb MvVerb();
Verb AttrVerb();
Verb NewVerb();
Verb FormatsVerb();
Verb BootReadVerb();
Verb BootWriteVerb();
