// packtool: writes the payload configuration, packs the setup executable and
// shows what a setup or configuration file holds.
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <string>

#include "common.h"
#include "config_file.h"
#include "payload_file.h"

using namespace packtool;

namespace {

int Usage()
{
    std::cerr << "usage:\n"
                 "  packtool config <description.txt> <out/config.dsc> [key=value ...]\n"
                 "  packtool pack <installer.exe> <payload folder> <out setup.exe>\n"
                 "  packtool inspect <setup.exe | config.dsc>\n"
                 "description keys (key = value lines, UTF-8, '#' comments):\n"
              << DescriptionKeysHelp();
    return 2;
}

int RunConfig(int argc, char** argv)
{
    if (argc < 4) return Usage();
    Bytes text = ReadWholeFile(argv[2]);
    Description description = ParseDescription(std::string(text.begin(), text.end()), argv[2]);
    for (int i = 4; i < argc; ++i) ApplyOverride(description, argv[i]);
    WriteFileAtomically(argv[3], BuildConfigFile(description));
    return 0;
}

int RunInspect(const std::string& path)
{
    Bytes image = ReadWholeFile(path);
    if (image.size() >= 2 && image[0] == 'M' && image[1] == 'Z') std::cout << InspectSetup(path, image);
    else std::cout << DescribeConfigFile(image);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) return Usage();
    std::string job = argv[1];
    try {
        if (job == "config") return RunConfig(argc, argv);
        if (job == "pack") {
            if (argc != 5) return Usage();
            PackSetup(argv[2], argv[3], argv[4]);
            return 0;
        }
        if (job == "inspect") {
            if (argc != 3) return Usage();
            return RunInspect(argv[2]);
        }
        return Usage();
    } catch (const Failure& e) {
        std::cerr << "packtool: " << e.what() << "\n";
        return 1;
    } catch (const std::exception& e) {
        std::cerr << "packtool: " << e.what() << "\n";
        return 1;
    }
}
