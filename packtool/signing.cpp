#include "signing.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "pe_signature.h"

#ifdef _WIN32
#include <process.h>
#else
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
extern char** environ;
#endif

namespace fs = std::filesystem;

namespace packtool {
namespace {

constexpr int kCannotStart = -1;

// Runs the program with its output in `log`; its exit code, or kCannotStart.
int Run(const std::vector<std::string>& args, const std::string& log)
{
#ifdef _WIN32
    std::string command = "\"";
    for (const std::string& a : args) command += "\"" + a + "\" ";
    command += "> \"" + log + "\" 2>&1\"";
    int rc = std::system(command.c_str());
    // cmd reports a program it cannot find with 9009.
    return rc == 9009 ? kCannotStart : rc;
#else
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid;
    int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return kCannotStart;
    int status = 0;
    if (waitpid(pid, &status, 0) < 0) return kCannotStart;
    if (WIFEXITED(status)) return WEXITSTATUS(status) == 127 ? kCannotStart : WEXITSTATUS(status);
    return 128;
#endif
}

std::string ReadLog(const std::string& log)
{
    std::error_code ec;
    if (!fs::is_regular_file(fs::u8path(log), ec)) return "";
    Bytes text = ReadWholeFile(log);
    return std::string(text.begin(), text.end());
}

bool Has(const std::string& text, const char* part) { return text.find(part) != std::string::npos; }

// osslsigncode's many lines, said as one.
std::string Reason(const SigningOptions& o, const std::string& log, const std::string& what)
{
    const std::string signer = o.pkcs12.empty() ? o.cert : o.pkcs12;
    if (Has(log, "consistency of a private key") || Has(log, "key values mismatch"))
        return "the key " + o.key + " does not belong to the certificate " + o.cert;
    if (Has(log, "Wrong password") || Has(log, "mac verify failure") || Has(log, "bad decrypt"))
        return "wrong password for " + (o.pkcs12.empty() ? o.key : o.pkcs12);
    if (Has(log, "Failed to read certificate") || Has(log, "Failed to parse PKCS#12") ||
        Has(log, "Failed to read private key") || Has(log, "Failed to read key"))
        return "cannot read the certificate or key (" + signer + (o.key.empty() ? "" : ", " + o.key) + ")";
    if (Has(log, "Unrecognized file type") || Has(log, "unsupported input file type") ||
        Has(log, "Corrupt") || Has(log, "Unsupported"))
        return what + " cannot be signed: osslsigncode does not take it as a PE file";
    std::string first;
    for (char c : log) {
        if (c == '\n' || c == '\r') {
            if (!first.empty()) break;
            continue;
        }
        first += c;
    }
    return "signing " + what + " failed" + (first.empty() ? "" : ": " + first);
}

std::string DateText(const std::string& t)
{
    if (t.size() < 14) return t;
    return t.substr(0, 4) + "-" + t.substr(4, 2) + "-" + t.substr(6, 2) + " " + t.substr(8, 2) + ":" + t.substr(10, 2) +
           " UTC";
}

}  // namespace

void CheckSigningSetup(const SigningOptions& o)
{
    if (!o.pkcs12.empty() && (!o.cert.empty() || !o.key.empty()))
        throw Failure("give either --pkcs12 or --cert with --key, not both");
    if (o.pkcs12.empty() && (o.cert.empty() || o.key.empty()))
        throw Failure("signing needs --cert FILE and --key FILE (or --pkcs12 FILE)");
    for (const std::string* file : {&o.cert, &o.key, &o.pkcs12})
        if (!file->empty()) ReadWholeFile(*file);  // names an unreadable file
    std::string log = TempNameFor("osslsigncode") + ".log";
    std::string logPath = (fs::temp_directory_path() / fs::u8path(log)).u8string();
    int rc = Run({"osslsigncode", "--version"}, logPath);
    std::error_code ec;
    fs::remove(fs::u8path(logPath), ec);
    if (rc == kCannotStart)
        throw Failure("osslsigncode not found: signing needs it (Debian package osslsigncode)");
}

Bytes SignFile(const SigningOptions& o, const std::string& in, const std::string& out, const std::string& what)
{
    std::vector<std::string> args = {"osslsigncode", "sign", "-h", "sha256"};
    if (!o.pkcs12.empty()) {
        args.insert(args.end(), {"-pkcs12", o.pkcs12});
    } else {
        args.insert(args.end(), {"-certs", o.cert, "-key", o.key});
    }
    if (!o.password.empty()) args.insert(args.end(), {"-pass", o.password});
    if (!o.timestamp.empty()) args.insert(args.end(), {"-ts", o.timestamp});
    args.insert(args.end(), {"-in", in, "-out", out});

    std::string log = out + ".log";
    int rc = Run(args, log);
    std::string text = ReadLog(log);
    std::error_code ec;
    fs::remove(fs::u8path(log), ec);
    if (rc == kCannotStart) throw Failure("osslsigncode not found: signing needs it (Debian package osslsigncode)");
    if (rc != 0 || !fs::is_regular_file(fs::u8path(out), ec)) throw Failure(Reason(o, text, what));

    Bytes image = ReadWholeFile(out);
    SignatureInfo info = ReadSignature(image);
    const std::string signer = o.pkcs12.empty() ? o.cert : o.pkcs12;
    if (!info.readable) throw Failure("cannot read the signature osslsigncode wrote into " + what);
    std::string now = UtcNowText();
    if (!info.notAfter.empty() && info.notAfter < now)
        throw Failure("the certificate " + signer + " expired on " + DateText(info.notAfter));
    if (!info.notBefore.empty() && info.notBefore > now)
        throw Failure("the certificate " + signer + " is not valid before " + DateText(info.notBefore));
    return image;
}

bool IsPeName(const std::string& name)
{
    std::string lower = name;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
    auto endsWith = [&](const char* suffix) {
        std::string s = suffix;
        return lower.size() >= s.size() && lower.compare(lower.size() - s.size(), s.size(), s) == 0;
    };
    return endsWith(".exe") || endsWith(".dll") || endsWith(".ime");
}

}  // namespace packtool
