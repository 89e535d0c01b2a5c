// tarnlight-cli: look inside +3DOS, PCW and CPC disk images and move files in
// and out of them from the command line.

#include "Verb.h"

#include <csignal>

int main(int argc, char** argv) {
    // A file-size limit must fail a write (and so the save) rather than end
    // the process in the middle of one.
    std::signal(SIGXFSZ, SIG_IGN);
    const Verb verbs[] = {LsVerb(),      FindVerb(),    CheckVerb(),    InfoVerb(),
                          MapVerb(),     CatVerb(),     ScreenVerb(),   TapeInVerb(),
                          TapeOutVerb(), ConvertVerb(), GetVerb(),      PutVerb(),
                          RmVerb(),      MvVerb(),      AttrVerb(),     OptimiseVerb(),
                          NewVerb(),     FormatsVerb(), BootReadVerb(), BootWriteVerb()};
    return RunCommandLine(verbs, argc, argv);
}
