// ivpack: builds packaged programs and looks inside them.
#include <CLI/CLI.hpp>

#include "pack_build.h"
#include "pack_common.h"
#include "pack_query.h"

int main(int argc, char** argv) {
    CLI::App app{"Builds Ilvarc packaged programs (launcher + script + engine) and inspects them.",
                 "ivpack"};
    app.set_version_flag("--version", "ivpack 1.0.0");
    app.require_subcommand(1);

    ivpack::BuildOptions build;
    CLI::App* buildCommand = app.add_subcommand("build", "Write a packaged program");
    buildCommand->add_option("-o,--output", build.output, "The packaged program to write")
        ->required();
    buildCommand->add_option("--launcher", build.launcher, "The launcher executable")->required();
    buildCommand->add_option("--script", build.script, "The compiled script (record SCRIPT.COD)")
        ->required();
    buildCommand->add_option("--script-name", build.scriptName,
                             "File name the script is extracted under (default: its own)");
    buildCommand->add_option("--engine", build.engine, "The engine library (record IVENGINE.DLL)");
    buildCommand->add_option("--engine-version", build.engineVersion,
                             "A.B.C.D instead of the engine's own file version");
    buildCommand->add_option("--add", build.additions, "A further record, FILE or FILE=NAME");
    buildCommand->add_option("--level", build.level, "Deflate level 0-9 (default 9)");

    std::string package;
    bool json = false;
    CLI::App* listCommand = app.add_subcommand("list", "Show the header block and the records");
    listCommand->add_option("FILE", package, "A packaged program")->required();
    listCommand->add_flag("--json", json, "Print JSON");

    CLI::App* verifyCommand =
        app.add_subcommand("verify", "Decompress every record and check the layout");
    verifyCommand->add_option("FILE", package, "A packaged program")->required();

    std::string name;
    std::string dest;
    CLI::App* extractCommand = app.add_subcommand(
        "extract", "Extract one record; DEST ending in a separator is a directory");
    extractCommand->add_option("FILE", package, "A packaged program")->required();
    extractCommand->add_option("NAME", name, "The record name")->required();
    extractCommand->add_option("DEST", dest, "File or directory to write")->required();

    CLI::App* versionCommand =
        app.add_subcommand("version", "Print a PE file's file version as A.B.C.D");
    versionCommand->add_option("FILE", package, "A PE file")->required();

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        const int code = app.exit(error);
        return code == 0 ? ivpack::EXIT_OK : ivpack::EXIT_USAGE;
    }
    if (buildCommand->parsed()) {
        return ivpack::RunBuild(build);
    }
    if (listCommand->parsed()) {
        return ivpack::RunList(package, json);
    }
    if (verifyCommand->parsed()) {
        return ivpack::RunVerify(package);
    }
    if (extractCommand->parsed()) {
        return ivpack::RunExtract(package, name, dest);
    }
    return ivpack::RunVersion(package);
}
