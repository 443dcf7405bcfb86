// packtool: writes the payload configuration, packs the setup executable and
// shows what a setup or configuration file holds.
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "common.h"
#include "config_file.h"
#include "new_product.h"
#include "payload_file.h"
#include "product_checks.h"
#include "signing.h"

using namespace packtool;

namespace {

int Usage()
{
    std::cerr << "usage:\n"
                 "  packtool new <folder> [--from <payload folder>] [key=value ...]\n"
                 "      a product to start from: <folder>/product.txt (every key, a fresh GUID), <folder>/payload/\n"
                 "      laid out as the setup expects, <folder>/help/; --from copies drivers, programs and data\n"
                 "      files from a payload (the demo's build/demo/payload for a first try)\n"
                 "  packtool config <description.txt> <out/config.dsc> [key=value ...] [--allow-incomplete]\n"
                 "  packtool pack <installer.exe> <payload folder> <out setup.exe>\n"
                 "      [--cert chain.pem --key key.pem | --pkcs12 file.p12] [--password TEXT] [--timestamp URL]\n"
                 "      signs every .exe/.dll/.ime of the payload (in a copy), the plain installer and the setup\n"
                 "      [--allow-incomplete] packs what the setup cannot install (test setups that must fail)\n"
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
    bool allowIncomplete = false;
    for (int i = 4; i < argc; ++i) {
        if (std::string(argv[i]) == "--allow-incomplete") allowIncomplete = true;
        else ApplyOverride(description, argv[i]);
    }
    Bytes config = BuildConfigFile(description);
    ReportFindings(CheckProduct(config), argv[2], allowIncomplete);
    WriteFileAtomically(argv[3], config);
    return 0;
}

int RunNew(int argc, char** argv)
{
    if (argc < 3) return Usage();
    std::string from;
    std::vector<std::string> overrides;
    for (int i = 3; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--from" && i + 1 < argc) from = argv[++i];
        else if (arg.rfind("--", 0) == 0) return Usage();
        else overrides.push_back(arg);
    }
    std::cout << WriteNewProduct(argv[2], from, overrides);
    return 0;
}

int RunPack(int argc, char** argv)
{
    std::vector<std::string> positional;
    SigningOptions signing;
    bool allowIncomplete = false;
    for (int i = 2; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--allow-incomplete") {
            allowIncomplete = true;
            continue;
        }
        std::string* target = arg == "--cert"       ? &signing.cert
                              : arg == "--key"      ? &signing.key
                              : arg == "--pkcs12"   ? &signing.pkcs12
                              : arg == "--password" ? &signing.password
                              : arg == "--timestamp" ? &signing.timestamp
                                                     : nullptr;
        if (!target && arg.rfind("--", 0) == 0) return Usage();
        if (!target) {
            positional.push_back(arg);
            continue;
        }
        if (i + 1 >= argc) return Usage();
        *target = argv[++i];
    }
    if (positional.size() != 3) return Usage();
    if (!signing.Enabled() && (!signing.password.empty() || !signing.timestamp.empty()))
        throw Failure("--password and --timestamp only go with --cert/--key or --pkcs12");
    PackSetup(positional[0], positional[1], positional[2], signing, allowIncomplete);
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
        if (job == "new") return RunNew(argc, argv);
        if (job == "config") return RunConfig(argc, argv);
        if (job == "pack") return RunPack(argc, argv);
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
