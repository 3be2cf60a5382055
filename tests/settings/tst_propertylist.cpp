#include "PropertyList.h"

#include <QDateTime>
#include <QLocale>
#include <QLoggingCategory>
#include <QPoint>
#include <QProcess>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeZone>

#include <clocale>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <memory>

using settings::PropertyList;
using namespace Qt::StringLiterals;

namespace {

// Equal in type and value, all the way down; NaN equals NaN and the sign of
// zero counts, so that "exact" means exact.
bool sameValue(const QVariant &a, const QVariant &b)
{
    if (a.typeId() != b.typeId())
        return false;
    switch (a.typeId()) {
    case QMetaType::Double: {
        const double x = a.toDouble();
        const double y = b.toDouble();
        if (std::isnan(x) || std::isnan(y))
            return std::isnan(x) && std::isnan(y);
        return x == y && std::signbit(x) == std::signbit(y);
    }
    case QMetaType::QVariantMap: {
        const QVariantMap m = a.toMap();
        const QVariantMap n = b.toMap();
        if (m.keys() != n.keys())
            return false;
        for (auto it = m.cbegin(); it != m.cend(); ++it) {
            if (!sameValue(it.value(), n.value(it.key())))
                return false;
        }
        return true;
    }
    case QMetaType::QVariantList: {
        const QVariantList l = a.toList();
        const QVariantList k = b.toList();
        if (l.size() != k.size())
            return false;
        for (qsizetype i = 0; i < l.size(); ++i) {
            if (!sameValue(l.at(i), k.at(i)))
                return false;
        }
        return true;
    }
    default:
        return a == b;
    }
}

QByteArray describe(const QVariant &value)
{
    QString text;
    QDebug(&text) << value;
    return text.toUtf8();
}

QByteArray plist(const QByteArray &body)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
           "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
           "<plist version=\"1.0\">\n"
           + body + "\n</plist>\n";
}

QByteArray nestedArrays(int depth)
{
    return plist(QByteArray("<array>").repeated(depth) + QByteArray("</array>").repeated(depth));
}

// Dictionaries and arrays in turn, depth levels in all.
QVariant nestedValue(int depth)
{
    QVariant value = QVariantList();
    for (int level = 1; level < depth; ++level)
        value = level % 2 ? QVariant(QVariantMap{{u"k"_s, value}}) : QVariant(QVariantList{value});
    return value;
}

QDateTime utc(int year, int month, int day, int hour, int minute, int second, int msec = 0)
{
    return QDateTime(QDate(year, month, day), QTime(hour, minute, second, msec), Qt::UTC);
}

QByteArray allBytes(int repeat)
{
    QByteArray bytes;
    for (int i = 0; i < 256 * repeat; ++i)
        bytes.append(char(i % 256));
    return bytes;
}

constexpr qint64 int64Min = std::numeric_limits<qint64>::min();
constexpr qint64 int64Max = std::numeric_limits<qint64>::max();
constexpr quint64 uint64Max = std::numeric_limits<quint64>::max();
constexpr double infinity = std::numeric_limits<double>::infinity();
constexpr double notANumber = std::numeric_limits<double>::quiet_NaN();

} // namespace

class tst_PropertyList : public QObject
{
    Q_OBJECT

private slots:
    void roundTrip_data();
    void roundTrip();
    void writesTheCommonLayout();
    void pythonInterop_data();
    void pythonInterop();
    void readsAcceptedForms_data();
    void readsAcceptedForms();
    void rejectsBadInput_data();
    void rejectsBadInput();
    void nestingBound_data();
    void nestingBound();
    void writeRefuses_data();
    void writeRefuses();
    void localeDoesNotMatter();
    void repeatedKeyLaterWins();
    void mutatedInputIsHandled();
    void files();
    void cleanupTestCase();

private:
    std::unique_ptr<QProcess> m_python;
};

void tst_PropertyList::roundTrip_data()
{
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<QVariant>("expected");

    const auto same = [](const char *name, const QVariant &value) { QTest::newRow(name) << value << value; };
    same("true", true);
    same("false", false);
    QTest::newRow("int reads as qint64") << QVariant(-7) << QVariant(qint64(-7));
    same("qint64 max", int64Max);
    same("qint64 min", int64Min);
    same("quint64 max stays unsigned", uint64Max);
    same("real that needs 17 digits", 0.1 + 0.2);
    same("real negative zero keeps its sign", -0.0);
    same("nan", notANumber);
    QTest::newRow("float widens exactly") << QVariant(0.1f) << QVariant(double(0.1f));
    same("unicode string", u"Grüße – 日本語 😀 e\u0301"_s);
    same("markup characters", u"<a & b> ]]> \"q\" 'a' &amp;"_s);
    same("carriage returns kept", u"a\r\nb\rc"_s);
    same("surrounding whitespace kept", u"  x \n\t"_s);
    same("every byte value", allBytes(1));
    same("date", utc(2026, 12, 6, 8, 0, 0));
    QTest::newRow("date with an offset reads in UTC")
        << QVariant(QDateTime(QDate(2026, 12, 6), QTime(10, 0), QTimeZone(7200)))
        << QVariant(utc(2026, 12, 6, 8, 0, 0));
    QTest::newRow("date loses milliseconds") << QVariant(utc(2026, 1, 2, 3, 4, 5, 678))
                                             << QVariant(utc(2026, 1, 2, 3, 4, 5));
    same("nested", QVariantMap{{u"list"_s, QVariantList{1LL, QVariantMap{{u"x"_s, u"y"_s}}, QVariantList{}}},
                               {u""_s, u"empty key"_s},
                               {u"ключ <&>"_s, true}});
    QTest::newRow("string list reads as list") << QVariant(QStringList{u"a"_s, u"b"_s})
                                               << QVariant(QVariantList{u"a"_s, u"b"_s});
    QTest::newRow("hash reads as map") << QVariant(QVariantHash{{u"b"_s, 2}, {u"a"_s, 1}})
                                       << QVariant(QVariantMap{{u"a"_s, 1LL}, {u"b"_s, 2LL}});
}

void tst_PropertyList::roundTrip()
{
    QFETCH(QVariant, value);
    QFETCH(QVariant, expected);

    QString error;
    const QByteArray xml = PropertyList::toXml(value, &error);
    QVERIFY2(!xml.isEmpty(), qPrintable(error));
    const QVariant read = PropertyList::fromXml(xml, &error);
    QVERIFY2(read.isValid(), qPrintable(error + u"\n"_s + QString::fromUtf8(xml)));
    QVERIFY2(sameValue(read, expected), describe(read) + " != " + describe(expected) + "\n" + xml);
    if (read.typeId() == QMetaType::QDateTime)
        QCOMPARE(read.toDateTime().timeSpec(), Qt::UTC);
}

void tst_PropertyList::writesTheCommonLayout()
{
    // What other property-list tools write: tabs, one element a line, the
    // top value not indented.
    const QVariantMap value{{u"a"_s, 1}, {u"b"_s, QVariantList{true, QVariantMap{}}}, {u"c"_s, QByteArray("xyz")}};
    QCOMPARE(PropertyList::toXml(value),
             QByteArray("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                        "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
                        "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
                        "<plist version=\"1.0\">\n"
                        "<dict>\n"
                        "\t<key>a</key>\n"
                        "\t<integer>1</integer>\n"
                        "\t<key>b</key>\n"
                        "\t<array>\n"
                        "\t\t<true/>\n"
                        "\t\t<dict/>\n"
                        "\t</array>\n"
                        "\t<key>c</key>\n"
                        "\t<data>\n"
                        "\teHl6\n"
                        "\t</data>\n"
                        "</dict>\n"
                        "</plist>\n"));
}

void tst_PropertyList::pythonInterop_data()
{
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<QString>("python");

    QTest::newRow("booleans") << QVariant(QVariantMap{{u"no"_s, false}, {u"yes"_s, true}})
                              << u"{'no': False, 'yes': True}"_s;
    QTest::newRow("integers at the 64-bit limits")
        << QVariant(QVariantList{int64Min, int64Max, uint64Max, 0LL, -1LL})
        << u"[-2**63, 2**63 - 1, 2**64 - 1, 0, -1]"_s;
    QTest::newRow("reals exactly") << QVariant(QVariantList{0.1, 0.1 + 0.2, 1.0 / 3, 1e300, 5e-324, -0.0, 1e16,
                                                            123456.789, 35.0, 1e-7})
                                   << u"[0.1, 0.1 + 0.2, 1 / 3, 1e300, 5e-324, -0.0, 1e16, 123456.789, 35.0, 1e-7]"_s;
    QTest::newRow("non-finite reals") << QVariant(QVariantList{notANumber, infinity, -infinity})
                                      << u"[float('nan'), float('inf'), float('-inf')]"_s;
    QTest::newRow("unicode and markup strings")
        << QVariant(QVariantList{u"Grüße"_s, u"日本語"_s, u"😀"_s, u"a&b<c>]]>"_s, u"tab\tnewline\n"_s})
        << u"['Grüße', '日本語', '😀', 'a&b<c>]]>', 'tab\\tnewline\\n']"_s;
    QTest::newRow("empty values") << QVariant(QVariantMap{{u"array"_s, QVariantList()},
                                                          {u"data"_s, QByteArray()},
                                                          {u"dict"_s, QVariantMap()},
                                                          {u"string"_s, u""_s}})
                                  << u"{'array': [], 'data': b'', 'dict': {}, 'string': ''}"_s;
    QTest::newRow("data over several lines") << QVariant(allBytes(3)) << u"bytes(range(256)) * 3"_s;
    QTest::newRow("date") << QVariant(utc(2026, 12, 6, 8, 0, 0)) << u"datetime.datetime(2026, 12, 6, 8, 0, 0)"_s;
    QTest::newRow("nested settings")
        << QVariant(QVariantMap{{u"autoShow"_s, true},
                                {u"idleHide"_s, 35.0},
                                {u"toggleCursorHotKey"_s, QVariantMap{{u"keyCode"_s, 40LL}, {u"modifiers"_s, 6144LL}}},
                                {u"x"_s, QVariantList{QVariantList{QVariantMap{{u"deep"_s, u"yes"_s}}}}}})
        << u"{'autoShow': True, 'idleHide': 35.0, 'toggleCursorHotKey': {'keyCode': 40, 'modifiers': 6144}, "
           "'x': [[{'deep': 'yes'}]]}"_s;
}

// Both directions through one python3 that serves every row: it reads
// what we wrote and compares it with the expected value, then writes the
// expected value for us to read. Request: the expected value as a Python
// expression on one line, the size of our document on the next, then the
// document. Answer: "ok SIZE" and plistlib's document, or "fail MESSAGE".
void tst_PropertyList::pythonInterop()
{
    QFETCH(QVariant, value);
    QFETCH(QString, python);

    if (!m_python) {
        const QString interpreter = QStandardPaths::findExecutable(u"python3"_s);
        if (interpreter.isEmpty())
            QSKIP("python3 is not installed");
        static const QString server = uR"(
import datetime, plistlib, sys
requests, answers = sys.stdin.buffer, sys.stdout.buffer
while True:
    literal = requests.readline()
    if not literal:
        break
    ours = requests.read(int(requests.readline()))
    expected = eval(literal.decode())
    try:
        read = plistlib.loads(ours)
    except Exception as error:
        read = error
    if repr(read) != repr(expected):
        message = 'plistlib read %r, expected %r' % (read, expected)
        answers.write(b'fail ' + message.encode('unicode_escape') + b'\n')
    else:
        theirs = plistlib.dumps(expected)
        answers.write(b'ok %d\n' % len(theirs) + theirs)
    answers.flush()
)"_s;
        m_python = std::make_unique<QProcess>();
        m_python->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_python->start(interpreter, {u"-c"_s, server});
        QVERIFY2(m_python->waitForStarted(), qPrintable(m_python->errorString()));
    }

    QString error;
    const QByteArray ours = PropertyList::toXml(value, &error);
    QVERIFY2(!ours.isEmpty(), qPrintable(error));
    m_python->write(python.toUtf8() + '\n' + QByteArray::number(ours.size()) + '\n' + ours);

    const auto waitFor = [this](auto enough) {
        while (!enough()) {
            if (!m_python->waitForReadyRead(20000))
                return false;
        }
        return true;
    };
    QVERIFY2(waitFor([this] { return m_python->canReadLine(); }), "python3 does not answer");
    const QByteArray answer = m_python->readLine().trimmed();
    QVERIFY2(answer.startsWith("ok "), answer + "\nwe wrote:\n" + ours);
    const qint64 size = answer.mid(3).toLongLong();
    QVERIFY(waitFor([this, size] { return m_python->bytesAvailable() >= size; }));
    const QByteArray theirs = m_python->read(size);

    const QVariant read = PropertyList::fromXml(theirs, &error);
    QVERIFY2(read.isValid(), qPrintable(error + u"\n"_s + QString::fromUtf8(theirs)));
    QVERIFY2(sameValue(read, value), describe(read) + " != " + describe(value) + "\n" + theirs);
}

void tst_PropertyList::cleanupTestCase()
{
    if (!m_python)
        return;
    m_python->closeWriteChannel();
    if (!m_python->waitForFinished(5000)) {
        m_python->kill();
        m_python->waitForFinished();
    }
}

void tst_PropertyList::readsAcceptedForms_data()
{
    QTest::addColumn<QByteArray>("document");
    QTest::addColumn<QVariant>("expected");

    QTest::newRow("leading zeros are decimal") << plist("<integer>010</integer>") << QVariant(10LL);
    QTest::newRow("plus sign") << plist("<integer>+5</integer>") << QVariant(5LL);
    QTest::newRow("whitespace around an integer") << plist("<integer>\n\t 42 \n</integer>") << QVariant(42LL);
    QTest::newRow("hexadecimal") << plist("<integer>0x1F</integer>") << QVariant(31LL);
    QTest::newRow("hexadecimal 64 bits") << plist("<integer>0xFFFFFFFFFFFFFFFF</integer>") << QVariant(uint64Max);
    QTest::newRow("signed minimum") << plist("<integer>-9223372036854775808</integer>") << QVariant(int64Min);
    QTest::newRow("2^63 reads unsigned") << plist("<integer>9223372036854775808</integer>")
                                         << QVariant(quint64(1) << 63);
    QTest::newRow("many leading zeros") << plist("<integer>" + QByteArray(100, '0') + "7</integer>")
                                        << QVariant(7LL);
    QTest::newRow("real without integer part") << plist("<real>.5</real>") << QVariant(0.5);
    QTest::newRow("real with whitespace") << plist("<real> 0.5\n</real>") << QVariant(0.5);
    QTest::newRow("real nan") << plist("<real>nan</real>") << QVariant(notANumber);
    QTest::newRow("real +infinity") << plist("<real>+infinity</real>") << QVariant(infinity);
    QTest::newRow("real -Infinity") << plist("<real>-Infinity</real>") << QVariant(-infinity);
    QTest::newRow("real over the double range") << plist("<real>1E+400</real>") << QVariant(infinity);
    QTest::newRow("real under the double range") << plist("<real>1E-400</real>") << QVariant(0.0);
    QTest::newRow("negative real under the double range") << plist("<real>-1e-400</real>") << QVariant(-0.0);
    QTest::newRow("date without seconds") << plist("<date>2004-10-26T10:33Z</date>")
                                          << QVariant(utc(2004, 10, 26, 10, 33, 0));
    QTest::newRow("date with hours only") << plist("<date>2004-10-26T10Z</date>")
                                          << QVariant(utc(2004, 10, 26, 10, 0, 0));
    QTest::newRow("date without time") << plist("<date>2004-10-26Z</date>") << QVariant(utc(2004, 10, 26, 0, 0, 0));
    QTest::newRow("data with line breaks and tabs") << plist("<data>\n\tAAEC\n\tAw==\n\t</data>")
                                                    << QVariant(QByteArray("\x00\x01\x02\x03", 4));
    QTest::newRow("CDATA, entities and a comment in a string")
        << plist("<string>a<![CDATA[<b>]]>&lt;&#x1F600;&amp;<!-- note -->z</string>")
        << QVariant(u"a<b><😀&z"_s);
    QTest::newRow("character reference for carriage return") << plist("<string>a&#13;b</string>")
                                                             << QVariant(u"a\rb"_s);
    QTest::newRow("raw line ending normalised") << plist("<string>a\r\nb</string>") << QVariant(u"a\nb"_s);
    QTest::newRow("self-closing containers") << plist("<array><dict/><array/></array>")
                                             << QVariant(QVariantList{QVariantMap(), QVariantList()});
    QTest::newRow("empty key") << plist("<dict><key/><string>x</string></dict>")
                               << QVariant(QVariantMap{{u""_s, u"x"_s}});
    QTest::newRow("without declarations") << QByteArray("<plist><true/></plist>") << QVariant(true);
    QTest::newRow("comments and processing instructions")
        << QByteArray("<?xml version=\"1.0\"?><!-- a --><plist><!-- b --><?pi x?><true/><!-- c --></plist><!-- d -->")
        << QVariant(true);
    QTest::newRow("byte order mark") << QByteArray("\xEF\xBB\xBF<plist><integer>1</integer></plist>")
                                     << QVariant(1LL);
    QTest::newRow("Latin-1 document")
        << QByteArray("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><plist><string>Gr\xfc\xdf" "e</string></plist>")
        << QVariant(u"Grüße"_s);
}

void tst_PropertyList::readsAcceptedForms()
{
    QFETCH(QByteArray, document);
    QFETCH(QVariant, expected);

    QString error;
    const QVariant read = PropertyList::fromXml(document, &error);
    QVERIFY2(read.isValid(), qPrintable(error));
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QVERIFY2(sameValue(read, expected), describe(read) + " != " + describe(expected));
}

void tst_PropertyList::rejectsBadInput_data()
{
    QTest::addColumn<QByteArray>("document");
    QTest::addColumn<QString>("because");

    const QByteArray valid = plist("<dict><key>a</key><integer>1</integer><key>b</key><string>x</string></dict>");
    QTest::newRow("empty input") << QByteArray() << QString();
    QTest::newRow("junk") << QByteArray("hello world") << QString();
    QTest::newRow("binary junk") << QByteArray("\x00\x01\xff\xfe\x80", 5) << QString();
    QTest::newRow("truncated in a tag") << valid.left(valid.indexOf("<integer>") + 5) << QString();
    QTest::newRow("not UTF-8") << plist("<string>\xff\xfe\xc3(</string>") << QString();
    QTest::newRow("wrong root element") << QByteArray("<html><true/></html>") << u"not <plist>"_s;
    QTest::newRow("value without plist element") << QByteArray("<dict/>") << u"not <plist>"_s;
    QTest::newRow("plist without value") << plist("") << u"no value"_s;
    QTest::newRow("plist with two values") << plist("<true/><false/>") << u"more than one"_s;
    QTest::newRow("unknown element") << plist("<foo/>") << u"unknown element"_s;
    QTest::newRow("text in a dictionary") << plist("<dict>junk<key>a</key><true/></dict>") << u"text"_s;
    QTest::newRow("text beside the value") << plist("x<true/>") << u"text"_s;
    QTest::newRow("key without value") << plist("<dict><key>a</key></dict>") << u"no value"_s;
    QTest::newRow("value without key") << plist("<dict><string>x</string></dict>") << u"<key>"_s;
    QTest::newRow("key in an array") << plist("<array><key>a</key></array>") << u"outside"_s;
    QTest::newRow("element inside a string") << plist("<string>a<b/></string>") << u"inside"_s;
    QTest::newRow("text inside true") << plist("<true>yes</true>") << u"empty"_s;
    QTest::newRow("integer 2^64") << plist("<integer>18446744073709551616</integer>") << u"64-bit"_s;
    QTest::newRow("integer -2^63 - 1") << plist("<integer>-9223372036854775809</integer>") << u"64-bit"_s;
    QTest::newRow("hexadecimal over 64 bits") << plist("<integer>0x10000000000000000</integer>") << u"64-bit"_s;
    QTest::newRow("signed hexadecimal") << plist("<integer>-0x10</integer>") << u"64-bit"_s;
    QTest::newRow("integer with a fraction") << plist("<integer>1.5</integer>") << u"64-bit"_s;
    QTest::newRow("integer with junk") << plist("<integer>12abc</integer>") << u"64-bit"_s;
    QTest::newRow("real with decimal comma") << plist("<real>0,5</real>") << u"real"_s;
    QTest::newRow("hexadecimal real") << plist("<real>0x1p3</real>") << u"real"_s;
    QTest::newRow("real with two signs") << plist("<real>+-1</real>") << u"real"_s;
    QTest::newRow("real with an empty exponent") << plist("<real>1e</real>") << u"real"_s;
    QTest::newRow("date with an offset") << plist("<date>2026-12-06T08:00:00+01:00</date>") << u"date"_s;
    QTest::newRow("date month 13") << plist("<date>2026-13-06T08:00:00Z</date>") << u"date"_s;
    QTest::newRow("date without Z") << plist("<date>2026-12-06</date>") << u"date"_s;
    QTest::newRow("date without day") << plist("<date>2004-10Z</date>") << u"date"_s;
    QTest::newRow("date with one-digit minutes") << plist("<date>2004-10-26T10:3Z</date>") << u"date"_s;
    QTest::newRow("date with fractional seconds") << plist("<date>2004-10-26T10:33:00.5Z</date>") << u"date"_s;
    QTest::newRow("data not base64") << plist("<data>!!!!</data>") << u"base64"_s;
    QTest::newRow("entity expansion bomb")
        << QByteArray("<?xml version=\"1.0\"?>\n<!DOCTYPE plist [\n"
                      "<!ENTITY a \"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa\">\n"
                      "<!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\">\n"
                      "<!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;\">\n"
                      "<!ENTITY d \"&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;\">\n"
                      "<!ENTITY e \"&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;\">\n"
                      "]>\n<plist><string>&e;&e;&e;&e;&e;&e;&e;&e;</string></plist>\n")
        << u"declarations"_s;
    QTest::newRow("internal subset without entities")
        << QByteArray("<!DOCTYPE plist [ <!ELEMENT plist ANY> ]><plist><true/></plist>") << u"declarations"_s;
    QTest::newRow("another document type") << QByteArray("<!DOCTYPE html><plist><true/></plist>")
                                           << u"document type"_s;
    QTest::newRow("undeclared entity") << plist("<string>&foo;</string>") << u"entity"_s;
    QTest::newRow("second root element") << QByteArray("<plist><true/></plist><plist/>") << QString();
    QTest::newRow("control character reference") << plist("<string>a&#1;b</string>") << QString();
    QTest::newRow("noncharacter reference") << plist("<string>&#xFFFF;</string>") << QString();
    QTest::newRow("over the size bound")
        << plist("<string>" + QByteArray(PropertyList::MaximumInputSize, 'a') + "</string>") << u"larger"_s;
    QTest::newRow("nested deeper than the bound") << nestedArrays(PropertyList::MaximumDepth + 1) << u"deeper"_s;
    QTest::newRow("a hundred thousand open arrays") << plist(QByteArray("<array>").repeated(100000)) << QString();
}

void tst_PropertyList::rejectsBadInput()
{
    QFETCH(QByteArray, document);
    QFETCH(QString, because);

    QString error;
    const QVariant read = PropertyList::fromXml(document, &error);
    QVERIFY2(!read.isValid(), describe(read));
    QVERIFY(!error.isEmpty());
    QVERIFY2(error.contains(because), qPrintable(error));
}

void tst_PropertyList::nestingBound_data()
{
    QTest::addColumn<int>("depth");
    QTest::addColumn<bool>("accepted");

    QTest::newRow("at the bound") << PropertyList::MaximumDepth << true;
    QTest::newRow("one past the bound") << PropertyList::MaximumDepth + 1 << false;
}

// Writing and reading draw the line at the same depth, so that whatever is
// written can be read.
void tst_PropertyList::nestingBound()
{
    QFETCH(int, depth);
    QFETCH(bool, accepted);

    QCOMPARE(PropertyList::fromXml(nestedArrays(depth)).isValid(), accepted);

    const QVariant value = nestedValue(depth);
    QString error;
    const QByteArray xml = PropertyList::toXml(value, &error);
    QCOMPARE(!xml.isEmpty(), accepted);
    if (accepted)
        QVERIFY(sameValue(PropertyList::fromXml(xml), value));
    else
        QVERIFY2(error.contains(u"deeper"_s), qPrintable(error));
}

void tst_PropertyList::writeRefuses_data()
{
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<QString>("because");

    QTest::newRow("no value") << QVariant() << u"no value"_s;
    QTest::newRow("point") << QVariant(QPoint(1, 2)) << u"QPoint"_s;
    QTest::newRow("no value inside a dictionary")
        << QVariant(QVariantMap{{u"outer"_s, QVariantMap{{u"inner"_s, QVariant()}}}}) << u"/outer/inner"_s;
    QTest::newRow("point inside an array") << QVariant(QVariantList{1, QVariantList{QPoint()}}) << u"/1/0"_s;
    QTest::newRow("control character in a string") << QVariant(u"a\x01" "b"_s) << u"U+0001 at position 1"_s;
    QTest::newRow("control character in a key") << QVariant(QVariantMap{{u"a\x1b"_s, 1}}) << u"U+001B"_s;
    QTest::newRow("lone surrogate") << QVariant(QString(QChar(0xD800))) << u"U+D800"_s;
    QTest::newRow("invalid date") << QVariant(QDateTime()) << u"date"_s;
    QTest::newRow("date after year 9999") << QVariant(utc(10000, 1, 1, 0, 0, 0)) << u"date"_s;
    QTest::newRow("nested too deep") << nestedValue(PropertyList::MaximumDepth + 1) << u"deeper"_s;
}

void tst_PropertyList::writeRefuses()
{
    QFETCH(QVariant, value);
    QFETCH(QString, because);

    QString error;
    QCOMPARE(PropertyList::toXml(value, &error), QByteArray());
    QVERIFY2(error.contains(because), qPrintable(error));
}

void tst_PropertyList::localeDoesNotMatter()
{
    const QByteArray previous = std::setlocale(LC_ALL, nullptr);
    if (!std::setlocale(LC_ALL, "de_DE.UTF-8"))
        QSKIP("the locale de_DE.UTF-8 is not available");
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    auto restore = qScopeGuard([&previous] {
        std::setlocale(LC_ALL, previous.constData());
        QLocale::setDefault(QLocale::c());
    });
    // The C library now reads a decimal point as the end of the number.
    QCOMPARE(std::atof("0.5"), 0.0);

    QCOMPARE(PropertyList::fromXml(plist("<real>0.5</real>")), QVariant(0.5));
    QCOMPARE(PropertyList::fromXml(plist("<real>1234.5</real>")), QVariant(1234.5));
    QVERIFY(!PropertyList::fromXml(plist("<real>0,5</real>")).isValid());
    QVERIFY(PropertyList::toXml(0.5).contains("<real>0.5</real>"));
    QVERIFY(PropertyList::toXml(1234.5).contains("<real>1234.5</real>"));
    QVERIFY(PropertyList::toXml(1234567LL).contains("<integer>1234567</integer>"));
}

void tst_PropertyList::repeatedKeyLaterWins()
{
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"repeats the key \"a\""_s));
    const QVariant read = PropertyList::fromXml(
        plist("<dict><key>a</key><integer>1</integer><key>b</key><true/><key>a</key><integer>2</integer></dict>"));
    QVERIFY(sameValue(read, QVariantMap{{u"a"_s, 2LL}, {u"b"_s, true}}));
}

// Random damage to a document that uses every element. Nothing may crash,
// every refusal says why, and whatever is accepted can be written and read
// back as the same value.
void tst_PropertyList::mutatedInputIsHandled()
{
    const QVariantMap rich{
        {u"bool"_s, true},
        {u"int"_s, -42LL},
        {u"big"_s, uint64Max},
        {u"real"_s, 0.1},
        {u"string"_s, u"Grüße <&> 😀"_s},
        {u"data"_s, allBytes(1)},
        {u"date"_s, utc(2026, 12, 6, 8, 0, 0)},
        {u"list"_s, QVariantList{false, 1LL, QVariantMap{{u"k"_s, QVariantList{}}}, QVariantMap{}}},
    };
    const QByteArray seed = PropertyList::toXml(rich);
    QVERIFY(!seed.isEmpty());

    static const QList<QByteArray> fragments{
        "<", ">", "</", "/>", "<dict>", "</dict>", "<array>", "</array>", "<key>k</key>", "<integer>", "&", "&amp;",
        "&#0;", "&#x1;", "&#13;", "<![CDATA[", "]]>", "<!--", "-->", "\"", "\xff", "\xc3", QByteArray(1, '\0'),
        "<!DOCTYPE plist [<!ENTITY a \"b\">]>", "&a;", "0x", "-", "99999999999999999999", "<real>nan</real>",
        "<date>", "=", "<?pi?>", "\t", "\r\n",
    };
    QRandomGenerator random(20261206);
    QLoggingCategory::setFilterRules(u"quillvane.settings.propertylist.warning=false"_s);
    auto restore = qScopeGuard([] { QLoggingCategory::setFilterRules(QString()); });

    int accepted = 0;
    for (int round = 0; round < 600; ++round) {
        QByteArray input = seed;
        const int mutations = 1 + random.bounded(4);
        for (int m = 0; m < mutations && !input.isEmpty(); ++m) {
            const int at = random.bounded(int(input.size()));
            switch (random.bounded(5)) {
            case 0:
                input[at] = char(random.bounded(256));
                break;
            case 1:
                input.insert(at, fragments.at(random.bounded(int(fragments.size()))));
                break;
            case 2:
                input.remove(at, 1 + random.bounded(16));
                break;
            case 3:
                input.insert(at, input.mid(random.bounded(int(input.size())), 1 + random.bounded(64)));
                break;
            case 4:
                input.truncate(at);
                break;
            }
        }

        QString error;
        const QVariant read = PropertyList::fromXml(input, &error);
        if (!read.isValid()) {
            QVERIFY2(!error.isEmpty(), input.constData());
            continue;
        }
        ++accepted;
        const QByteArray again = PropertyList::toXml(read, &error);
        QVERIFY2(!again.isEmpty(), qPrintable(u"accepted but not writable: %1\n%2"_s.arg(error, QString::fromUtf8(input))));
        QVERIFY2(sameValue(PropertyList::fromXml(again), read), input.constData());
    }
    // The loop only means something if damage sometimes leaves a document.
    QVERIFY(accepted > 0);
}

void tst_PropertyList::files()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QString error;
    QVERIFY(!PropertyList::readFile(dir.filePath(u"missing.plist"_s), &error).isValid());
    QVERIFY2(error.contains(u"missing.plist"_s), qPrintable(error));

    QFile array(dir.filePath(u"array.plist"_s));
    QVERIFY(array.open(QIODevice::WriteOnly));
    QVERIFY(array.write(PropertyList::toXml(QVariantList{1})) > 0);
    array.close();
    QCOMPARE(PropertyList::readFile(array.fileName()), QVariant(QVariantList{1LL}));
    QVERIFY(!PropertyList::readDictionaryFile(array.fileName(), &error).isValid());
    QVERIFY2(error.contains(u"not a dictionary"_s), qPrintable(error));

    // A sparse file one byte over the bound: refused for its size.
    QFile large(dir.filePath(u"large.plist"_s));
    QVERIFY(large.open(QIODevice::WriteOnly));
    QVERIFY(large.resize(PropertyList::MaximumInputSize + 1));
    large.close();
    QVERIFY(!PropertyList::readFile(large.fileName(), &error).isValid());
    QVERIFY2(error.contains(u"larger"_s), qPrintable(error));
}

QTEST_GUILESS_MAIN(tst_PropertyList)
#include "tst_propertylist.moc"
