// Any bytes as a property-list document: the reader must refuse or accept
// them without crashing, and whatever it accepts must write and read back as
// the very same value, with the writer's output a fixed point.

#include "FuzzSupport.h"

#include "PropertyList.h"

using settings::PropertyList;

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz::quietLogging();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input = fuzz::bytes(data, size);
    QString error;
    const QVariant value = PropertyList::fromXml(input, &error);
    if (!value.isValid()) {
        FUZZ_CHECK(!error.isEmpty(), QStringLiteral("a refused document gives no reason"));
        return 0;
    }
    FUZZ_CHECK(error.isEmpty(), error);

    const QByteArray written = PropertyList::toXml(value, &error);
    FUZZ_CHECK(!written.isEmpty(), QStringLiteral("an accepted value cannot be written: ") + error);

    const QVariant reread = PropertyList::fromXml(written, &error);
    FUZZ_CHECK(reread.isValid(), QStringLiteral("the written document is refused: ") + error
                                     + QLatin1Char('\n') + QString::fromUtf8(written));
    FUZZ_CHECK(fuzz::sameValue(value, reread), QString::fromUtf8(written));
    FUZZ_CHECK(PropertyList::toXml(reread) == written, QString::fromUtf8(written));
    return 0;
}
