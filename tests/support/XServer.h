#pragma once
// An X server of the test's own (Xvfb), its screens kept in files in XWD format. The server draws the pointer
// into those files itself, so they show what a user would see, pointer included; screenshots never do.

#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <QtEndian>



namespace testsupport {

using namespace Qt::StringLiterals;

class PrivateXServer
{
public:
    ~PrivateXServer() { stop(); }

    // SCREENS screens of GEOMETRY with a black root window, so that only the pointer has colour; on a display
    // number the server picks.
    bool start(QString *error, int screens = 1, const QString &geometry = u"640x480x24"_s)
    {
        QStringList arguments{u"-displayfd"_s, u"1"_s, u"-fbdir"_s, m_dir.path(), u"-nolisten"_s, u"tcp"_s, u"-br"_s};
        for (int screen = 0; screen < screens; ++screen)
            arguments << u"-screen"_s << QString::number(screen) << geometry;
        m_server.setProgram(u"Xvfb"_s);
        m_server.setArguments(arguments);
        m_server.setStandardErrorFile(QProcess::nullDevice());
        m_server.start();
        if (!m_dir.isValid() || !m_server.waitForStarted(5000)) {
            *error = u"Xvfb did not start: "_s + m_server.errorString();
            return false;
        }
        const QDeadlineTimer deadline(20000);
        while (!m_server.canReadLine() && !deadline.hasExpired() && m_server.state() == QProcess::Running)
            m_server.waitForReadyRead(int(deadline.remainingTime()));
        const QByteArray number = m_server.readLine().trimmed();
        if (number.isEmpty()) {
            *error = u"Xvfb printed no display number"_s;
            return false;
        }
        m_display = u":"_s + QString::fromLatin1(number);
        return true;
    }

    QString display() const { return m_display; }
    // The file the server keeps SCREEN in, in XWD format.
    QString screenFile(int screen = 0) const { return m_dir.filePath(u"Xvfb_screen%1"_s.arg(screen)); }

    // The server vanishes as if it crashed.
    void stop()
    {
        if (m_server.state() == QProcess::NotRunning)
            return;
        m_server.kill();
        m_server.waitForFinished(5000);
    }

    // The pixels of SCREEN that have one of COLOURS (0xRRGGBB); -1 when the screen file cannot be read.
    int countPixels(const QList<quint32> &colours, int screen = 0) const
    {
        QFile file(screenFile(screen));
        if (!file.open(QIODevice::ReadOnly))
            return -1;
        const QByteArray data = file.readAll();
        // The XWD header: 25 big-endian 32-bit fields, then the window name, then ncolors colour entries of 12
        // bytes, then the pixels.
        if (data.size() < 100)
            return -1;
        const auto field = [&data](int index) { return qFromBigEndian<quint32>(data.constData() + 4 * index); };
        const quint32 headerSize = field(0), width = field(4), height = field(5), byteOrder = field(7),
                      bitsPerPixel = field(11), bytesPerLine = field(12), ncolors = field(19);
        const qint64 pixels = qint64(headerSize) + 12 * qint64(ncolors);
        if (bitsPerPixel != 32 || pixels + qint64(bytesPerLine) * height > data.size())
            return -1;
        int count = 0;
        for (quint32 y = 0; y < height; ++y) {
            const char *line = data.constData() + pixels + qint64(bytesPerLine) * y;
            for (quint32 x = 0; x < width; ++x) {
                const quint32 pixel = byteOrder == 0 ? qFromLittleEndian<quint32>(line + 4 * x)
                                                     : qFromBigEndian<quint32>(line + 4 * x);
                count += colours.contains(pixel & 0xffffff);
            }
        }
        return count;
    }

private:
    QTemporaryDir m_dir;
    QProcess m_server;
    QString m_display;
};

} // namespace testsupport
