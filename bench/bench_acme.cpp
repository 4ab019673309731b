// Issuance through `certwright acme` (nginx files from a web root) against lego alone with the
// same authority, names and web root, against Pebble on loopback without its validation
// sleeps. The two runs of a pair follow each other, taking turns to go first, so that both see
// the same load, each run with names of its own so that Pebble cannot reuse a validation. Prints
// the minimum, median and maximum of each way and of the ratio, and whether the median ratio is
// within 1.2.
//
//   bench_acme [pairs] [certwright]   (default 5 pairs; the program: the argument, else
//                                      CERTWRIGHT_EXECUTABLE, else ../certwright beside this
//                                      benchmark's folder)

#include "BenchSupport.h"
#include "PebbleFixture.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <cstdio>
#include <vector>

namespace {

constexpr double kAllowedRatio = 1.2;
constexpr int kRunLimitMs = 180000;

// Milliseconds of one run, or -1 when it failed; the web server answers meanwhile.
double timed(const QString& program, const QStringList& arguments,
             const QProcessEnvironment& environment) {
    QProcess run;
    run.setProcessEnvironment(environment);
    QSignalSpy finished(&run, &QProcess::finished);
    QElapsedTimer clock;
    clock.start();
    run.start(program, arguments);
    if (!finished.wait(kRunLimitMs) || run.exitCode() != 0) {
        std::fprintf(stderr, "%s failed:\n%s\n", qPrintable(program),
                     run.readAllStandardError().constData());
        return -1;
    }
    return double(clock.nsecsElapsed()) / 1e6;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int pairs = argc > 1 ? std::atoi(argv[1]) : 5;
    QString certwright =
        argc > 2 ? QString::fromLocal8Bit(argv[2]) : qEnvironmentVariable("CERTWRIGHT_EXECUTABLE");
    if (certwright.isEmpty())
        certwright = QCoreApplication::applicationDirPath() + "/../certwright";
    const QString lego = QStandardPaths::findExecutable("lego");
    PebbleFixture pebble(3600);
    if (const QString problem = pebble.start(); !problem.isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(problem));
        return 1;
    }
    QTemporaryDir data;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("XDG_DATA_HOME", data.path() + "/certwright-data");
    environment.insert("LEGO_CA_CERTIFICATES", pebble.caBundle());
    std::vector<double> ours;
    std::vector<double> alone;
    std::vector<double> ratios;
    for (int pair = 0; pair < pairs; ++pair) {
        const QString name = QString("bench%1.test").arg(pair);
        QTemporaryDir out;
        const auto throughCertwright = [&] {
            return timed(certwright,
                         {"acme", "--domain", "a." + name, "--domain", "www.a." + name, "--email",
                          "admin@example.com", "--webroot", pebble.webRoot(), "--server",
                          pebble.directoryUrl(), "--ca-bundle", pebble.caBundle(), "--out",
                          out.path(), "--for", "nginx", "--agree-tos"},
                         environment);
        };
        const auto legoAlone = [&] {
            return timed(lego,
                         {"--path", data.path() + "/lego", "--server", pebble.directoryUrl(),
                          "--accept-tos", "--email", "admin@example.com", "--domains", "l." + name,
                          "--domains", "www.l." + name, "--http", "--http.webroot",
                          pebble.webRoot(), "run"},
                         environment);
        };
        // Each way goes first in every other pair.
        const bool certwrightFirst = pair % 2 == 0;
        const double first = certwrightFirst ? throughCertwright() : legoAlone();
        const double second = certwrightFirst ? legoAlone() : throughCertwright();
        const double acme = certwrightFirst ? first : second;
        const double bare = certwrightFirst ? second : first;
        if (acme < 0 || bare < 0)
            return 1;
        ours.push_back(acme);
        alone.push_back(bare);
        ratios.push_back(acme / bare);
        std::printf("  pair %d: certwright acme %.0f ms, lego alone %.0f ms, ratio %.3f\n",
                    pair + 1, acme, bare, acme / bare);
    }
    std::printf("Issuance for two names against Pebble (PEBBLE_VA_NOSLEEP=1), %d pairs:\n", pairs);
    printSpread("certwright acme", spreadOf(ours), 0);
    printSpread("lego alone", spreadOf(alone), 0);
    const Spread ratio = spreadOf(ratios);
    std::printf("  ratio certwright/lego: min %.3f  median %.3f  max %.3f  (limit %.1f: %s)\n",
                ratio.minimum, ratio.median, ratio.maximum, kAllowedRatio,
                ratio.median <= kAllowedRatio ? "met" : "NOT met");
    return ratio.median <= kAllowedRatio ? 0 : 1;
}
