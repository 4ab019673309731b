// The check (`certwright check`) against the bare openssl runs that give the same verdicts, for
// files and for a live `openssl s_server` on loopback. The runs of a pair follow each other,
// taking turns to go first, so that both see the same load. Prints, per case, the minimum,
// median and maximum of each way, the processor time of each, and the ratio of the medians,
// and whether it is within 2.
//
//   bench_check [rounds] [certwright]   (default 20 rounds; the program: the argument, else
//                                        CERTWRIGHT_EXECUTABLE, else ../certwright beside this
//                                        benchmark's folder)
//
// The cases:
//   key      a self-signed certificate with its key, judged against the system's roots:
//            x509 -text -pubkey, pkey -pubout, verify -purpose sslserver;
//   chain    a server certificate and its intermediate in one file, with the root as CA file:
//            x509 -text, verify -untrusted -purpose sslserver -verify_hostname;
//   server   the same served by s_server with -cert_chain, reached by --connect:
//            s_client -showcerts -verify_hostname -verify_return_error, x509 -text.

#include "BenchSupport.h"
#include "TestAuthority.h"
#include "TestCoreSupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>

#include <cstdio>
#include <functional>
#include <vector>

namespace {

constexpr double kAllowedRatio = 2.0;
constexpr int kRunLimitMs = 60000;

// One run of a program: its exit status (-1 when it did not end by itself) and standard output.
struct Run {
    int status = -1;
    QByteArray output;
};

Run run(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    process.closeWriteChannel();
    process.waitForFinished(kRunLimitMs);
    Run result;
    if (process.exitStatus() == QProcess::NormalExit)
        result.status = process.exitCode();
    result.output = process.readAllStandardOutput();
    return result;
}

// One way of reaching a case's verdicts: true when the verdict is the expected one.
using Way = std::function<bool()>;

struct Case {
    const char* name;
    Way check;
    Way bare;
};

struct Timing {
    std::vector<double> wallMs;
    std::vector<double> cpuMs;
};

// Runs the way once, adding its wall and processor time; false when its verdict was wrong.
bool timed(const Way& way, Timing& timing) {
    const double cpuBefore = childrenCpuMs();
    QElapsedTimer clock;
    clock.start();
    const bool right = way();
    timing.wallMs.push_back(double(clock.nsecsElapsed()) / 1e6);
    timing.cpuMs.push_back(childrenCpuMs() - cpuBefore);
    return right;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
    QString certwright =
        argc > 2 ? QString::fromLocal8Bit(argv[2]) : qEnvironmentVariable("CERTWRIGHT_EXECUTABLE");
    if (certwright.isEmpty())
        certwright = QCoreApplication::applicationDirPath() + "/../certwright";
    const QString openssl = QStringLiteral(OPENSSL_TOOL);

    TestAuthority authority;
    TestAuthority::Leaf self;
    self.selfSigned = true;
    if (!authority.isValid() || !authority.issue("sound") || !authority.issue("self", self)) {
        std::fprintf(stderr, "The test authority could not be made.\n");
        return 1;
    }
    const QString chain = authority.file("chain.pem");
    writeFileContent(chain, fileContent(authority.file("sound.crt")) +
                                fileContent(authority.file("inter.crt")));
    const QString root = authority.file("root.crt");
    QProcess server;
    const int port = startTlsServer(server, {"-www", "-cert", authority.file("sound.crt"), "-key",
                                             authority.file("sound.key"), "-cert_chain",
                                             authority.file("inter.crt")});
    if (port == 0) {
        std::fprintf(stderr, "The TLS server did not start.\n");
        return 1;
    }
    const QString address = QStringLiteral("127.0.0.1:%1").arg(port);
    const QString sent = authority.file("sent.pem");

    const std::vector<Case> cases = {
        {"key",
         [&] {
             return run(certwright, {"check", "--cert", authority.file("self.crt"), "--key",
                                     authority.file("self.key")})
                        .status == 1;
         },
         [&] {
             return run(openssl,
                        {"x509", "-noout", "-text", "-pubkey", "-in", authority.file("self.crt")})
                            .status == 0 &&
                    run(openssl, {"pkey", "-pubout", "-in", authority.file("self.key")}).status ==
                        0 &&
                    run(openssl, {"verify", "-purpose", "sslserver", authority.file("self.crt")})
                            .status != 0;
         }},
        {"chain",
         [&] {
             return run(certwright,
                        {"check", "--cert", chain, "--ca-file", root, "--name", kTestHost})
                        .status == 0;
         },
         [&] {
             return run(openssl, {"x509", "-noout", "-text", "-in", chain}).status == 0 &&
                    run(openssl, {"verify", "-CAfile", root, "-untrusted", chain, "-purpose",
                                  "sslserver", "-verify_hostname", kTestHost, chain})
                            .status == 0;
         }},
        {"server",
         [&] {
             return run(certwright,
                        {"check", kTestHost + ":443", "--connect", address, "--ca-file", root})
                        .status == 0;
         },
         [&] {
             const Run connection = run(
                 openssl, {"s_client", "-connect", address, "-servername", kTestHost, "-showcerts",
                           "-CAfile", root, "-verify_hostname", kTestHost, "-verify_return_error"});
             writeFileContent(sent, connection.output);
             return connection.status == 0 &&
                    run(openssl, {"x509", "-noout", "-text", "-in", sent}).status == 0;
         }},
    };

    std::printf("%d rounds of each case; the check: %s\n", rounds, qPrintable(certwright));
    bool allWithin = true;
    for (const Case& each : cases) {
        // One round of each way first, unmeasured, so that the files are in the page cache.
        if (!each.check() || !each.bare()) {
            std::fprintf(stderr, "%s: a verdict is not the expected one.\n", each.name);
            return 1;
        }
        Timing check;
        Timing bare;
        for (int round = 0; round < rounds; ++round) {
            const bool checkFirst = round % 2 == 0;
            const bool right = checkFirst ? timed(each.check, check) && timed(each.bare, bare)
                                          : timed(each.bare, bare) && timed(each.check, check);
            if (!right) {
                std::fprintf(stderr, "%s: a verdict changed in round %d.\n", each.name, round);
                return 1;
            }
        }
        const Spread checkSpread = spreadOf(check.wallMs);
        const Spread bareSpread = spreadOf(bare.wallMs);
        const double ratio = checkSpread.median / bareSpread.median;
        allWithin = allWithin && ratio <= kAllowedRatio;
        std::printf("%s:\n", each.name);
        printSpread("certwright check:", checkSpread, 1);
        printSpread("bare openssl runs:", bareSpread, 1);
        printSpread("processor, check:", spreadOf(check.cpuMs), 1);
        printSpread("processor, bare runs:", spreadOf(bare.cpuMs), 1);
        std::printf("  ratio of the medians: %.2f (%s %.1f)\n", ratio,
                    ratio <= kAllowedRatio ? "within" : "over", kAllowedRatio);
    }
    server.kill();
    server.waitForFinished();
    return allWithin ? 0 : 1;
}
