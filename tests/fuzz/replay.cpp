// Replays the seeds of a fuzz target without the fuzzer, in the main build
// under ctest: every file of the folders given goes once through the
// target's checks, and a failed check aborts the run.

#include <QDirIterator>
#include <QFile>

#include <cstdint>
#include <cstdio>
#include <vector>

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv);
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

int main(int argc, char *argv[])
{
    LLVMFuzzerInitialize(&argc, &argv);
    int replayed = 0;
    for (int i = 1; i < argc; ++i) {
        for (QDirIterator it(QString::fromLocal8Bit(argv[i]), QDir::Files); it.hasNext();) {
            QFile file(it.next());
            if (!file.open(QIODevice::ReadOnly)) {
                std::fprintf(stderr, "cannot read %s\n", qPrintable(file.fileName()));
                return 1;
            }
            // A buffer of exactly the seed's size, as the fuzzer passes it.
            const QByteArray seed = file.readAll();
            const std::vector<uint8_t> input(seed.cbegin(), seed.cend());
            LLVMFuzzerTestOneInput(input.data(), input.size());
            ++replayed;
        }
    }
    std::printf("%d seeds replayed\n", replayed);
    return replayed > 0 ? 0 : 1;
}
