// One libFuzzer program per entry point; FUZZ_ENTRY names the entry (see CMakeLists.txt).
#include "fuzzentries.h"

#include <QCoreApplication>

#include <cstdio>
#include <cstdlib>

namespace {
// The parsers log every step; formatting the lines would only slow the search.
void discardMessage(QtMsgType, const QMessageLogContext &, const QString &)
{
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    qInstallMessageHandler(discardMessage);
    // Qt may edit the arguments it is given; libFuzzer's own stay untouched.
    static int qtArgc = 1;
    static char *qtArgv[] = { (*argv)[0], nullptr };
    Q_UNUSED(argc);
    static QCoreApplication app(qtArgc, qtArgv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // No copy: a read past the input then hits the fuzzer's own guarded buffer.
    const QByteArray input
        = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    const FuzzEntries::Outcome outcome = FuzzEntries::FUZZ_ENTRY(input);
    if (!outcome.broken.isEmpty()) {
        std::fprintf(stderr, "FUZZ CHECK FAILED: %s\n", qPrintable(outcome.broken));
        std::abort();
    }
    return 0;
}
