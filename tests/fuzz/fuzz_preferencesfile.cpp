// Any bytes as the settings file of a domain, read into the store the way a
// program reads its settings at start. A dictionary reads back key by key; any
// other file reads as an empty domain and is moved aside unchanged, never
// lost. Either way the next synchronisation writes a file that holds the
// old keys (if any) and the new one.

#include "FuzzSupport.h"

#include "PreferencesStore.h"
#include "PropertyList.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <memory>

using settings::PreferencesStore;
using settings::PropertyList;

namespace {

const QString Domain = QStringLiteral("org.quillvane.Fuzz");
const QString AddedKey = QStringLiteral("fuzz-added");

std::unique_ptr<QTemporaryDir> workDirectory;

QByteArray readBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void emptyWorkDirectory()
{
    QDir directory(workDirectory->path());
    for (const QString &name : directory.entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot))
        directory.remove(name);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz::quietLogging();
    // Memory-backed when the machine has it: every input is a file write.
    const QString base = QFileInfo(QStringLiteral("/dev/shm")).isWritable() ? QStringLiteral("/dev/shm")
                                                                            : QDir::tempPath();
    workDirectory = std::make_unique<QTemporaryDir>(base + QStringLiteral("/quillvane-fuzz-XXXXXX"));
    if (!workDirectory->isValid()) {
        std::fprintf(stderr, "cannot create a work folder in %s\n", qPrintable(base));
        std::abort();
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input = fuzz::bytes(data, size);
    emptyWorkDirectory();
    const QString directory = workDirectory->path();
    const QString path = directory + QLatin1Char('/') + Domain + QStringLiteral(".plist");
    // Copies set aside earlier, under the names the clock gives now and a
    // second later: a new one never replaces them.
    const QDateTime now = QDateTime::currentDateTimeUtc();
    for (int second = 0; second <= 1; ++second) {
        QFile earlier(path + now.addSecs(second).toString(QStringLiteral("'.corrupt-'yyyyMMdd'T'HHmmss'Z'")));
        if (!earlier.open(QIODevice::WriteOnly) || earlier.write("earlier") != 7)
            fuzz::fail("writing an earlier copy", __FILE__, __LINE__, earlier.errorString());
    }
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(input) != input.size())
            fuzz::fail("writing the input file", __FILE__, __LINE__, file.errorString());
    }

    const QVariant parsed = PropertyList::fromXml(input);
    const bool isDictionary = parsed.typeId() == QMetaType::QVariantMap;
    const QVariantMap before = parsed.toMap();

    PreferencesStore store(directory);
    const QVariant probe = store.copyAppValue(AddedKey, Domain);
    const QStringList aside = QDir(directory).entryList({Domain + QStringLiteral(".plist.corrupt-*")});
    FUZZ_CHECK(aside.size() == (isDictionary ? 2 : 3), aside.join(QLatin1Char(' ')));
    int earlierKept = 0;
    for (const QString &name : aside)
        earlierKept += readBytes(directory + QLatin1Char('/') + name) == "earlier";
    FUZZ_CHECK(earlierKept >= 2, QStringLiteral("an earlier copy was replaced"));
    if (isDictionary) {
        for (auto it = before.cbegin(); it != before.cend(); ++it) {
            FUZZ_CHECK(fuzz::sameValue(store.copyAppValue(it.key(), Domain), it.value()),
                       QStringLiteral("key ") + it.key());
        }
        FUZZ_CHECK(readBytes(path) == input, QStringLiteral("reading changed a good file"));
    } else {
        FUZZ_CHECK(!probe.isValid(), QStringLiteral("an unusable file gave a value"));
        FUZZ_CHECK(!QFileInfo::exists(path), QStringLiteral("an unusable file stayed in place"));
        const auto holdsInput = [&](const QString &name) { return readBytes(directory + u'/' + name) == input; };
        FUZZ_CHECK(std::any_of(aside.cbegin(), aside.cend(), holdsInput),
                   QStringLiteral("the file moved aside differs from the original"));
    }

    // A change on top of whatever was read.
    store.setAppValue(AddedKey, 42, Domain);
    FUZZ_CHECK(store.appSynchronize(Domain), QStringLiteral("synchronisation failed"));
    QString error;
    const QVariant after = PropertyList::readDictionaryFile(path, &error);
    FUZZ_CHECK(after.isValid(), error);
    QVariantMap expected = isDictionary ? before : QVariantMap();
    expected.insert(AddedKey, qint64(42));
    FUZZ_CHECK(fuzz::sameValue(after, expected), QString::fromUtf8(readBytes(path)));
    FUZZ_CHECK(!QFileInfo::exists(path + QStringLiteral(".lock")), QStringLiteral("the lock stayed"));
    return 0;
}
