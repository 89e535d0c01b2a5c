// convert: an image into another container, written whole beside its target,
// read back and compared sector by sector and file by file before it takes
// the target's name.

#include "Commands.h"
#include "ConvertImage.h"
#include "Session.h"

#include <cstdio>
#include <memory>

int RunConvert(CCliOwner& owner, const ConvertOptions& options) {
    ConvertRequest request{options.input, options.output,
                           options.to.empty() ? nullptr : ContainerNamed(options.to),
                           options.force};
    ConvertResult result;
    ConvertRefusal refusal;
    if (!ConvertImage(owner.LibraryTable(), request, result, refusal)) {
        Report(refusal.subject, refusal.cause);
        return refusal.usage ? kExitUsage : kExitFailed;
    }
    const std::string& in = options.input;
    const std::string& out = options.output;
    std::printf("%s (%s) \u2192 %s (%s): %zu tracks, %zu sectors, compared\n",
                Printable(in).c_str(), result.inputContainer.c_str(), Printable(out).c_str(),
                result.target->name, result.tracks, result.sectors);
    if (result.cylinders != result.dumpCylinders)
        std::fprintf(stderr,
                     "NOTE: %s: a double-stepped dump: its %u cylinders written as the %u "
                     "of the disk\n",
                     Printable(in).c_str(), result.dumpCylinders, result.cylinders);
    if (!result.rawNote.empty())
        std::fprintf(stderr, "NOTE: %s: %s\n", Printable(out).c_str(), result.rawNote.c_str());
    return kExitOk;
}

Verb ConvertVerb() {
    return {
        "convert", "Write an image in another container, checked sector by sector",
        [](CLI::App& cmd, std::vector<char*>&) -> VerbRun {
            auto convert = std::make_shared<ConvertOptions>();
            std::vector<std::string> types;
            for (const ContainerType& type : ContainerTypes())
                types.push_back(type.type);
            cmd.add_option("IN", convert->input, "Image to convert (never changed)")->required();
            cmd.add_option("OUT", convert->output, "Image to write")->required();
            cmd.add_option("--to", convert->to,
                           "Container: dsk (standard), edsk (extended), raw, imd, ldbs, "
                           "copyqm, tele, ydsk, qrst; without it, from OUT's extension (.dsk "
                           "keeps a CPCEMU input's kind, .raw/.img, .imd, .ldbs, .cqm, .td0, "
                           ".ydsk, .qrst)")
                ->check(CLI::IsMember(types));
            cmd.add_flag("--force", convert->force, "Replace OUT when it exists");
            cmd.footer("OUT is written whole beside its name, read back and compared with IN "
                       "sector by sector (ids, sizes, data) and file by file; it takes its "
                       "name only when they agree. A disk a container cannot hold (a standard "
                       ".dsk or a raw dump with tracks of mixed sizes) is refused, naming the "
                       "track.\n\nExamples:\n"
                       "  tarnlight-cli convert game.dsk game-extended.dsk --to edsk\n"
                       "  tarnlight-cli convert archive.imd game.dsk\n"
                       "  tarnlight-cli convert game.dsk game.raw");
            return [convert](CCliOwner& owner) { return RunConvert(owner, *convert); };
        }};
}
