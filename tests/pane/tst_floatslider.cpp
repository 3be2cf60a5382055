// The slider over 32-bit float values: what it shows, what it lets in, and
// when a user's change becomes one action.

#include "FloatSlider.h"

#include <QLabel>
#include <QLocale>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSlider>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTest>

#include <cmath>
#include <limits>

class TestFloatSlider : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void formatsShortestFloat_data();
    void formatsShortestFloat();
    void guardsValuesFromOutside_data();
    void guardsValuesFromOutside();
    void valuesFromCodeCommitNothing();
    void keyboardStepsCommitOnceEach_data();
    void keyboardStepsCommitOnceEach();
    void dragCommitsOnlyOnRelease();

private:
    static void configure(FloatSlider &slider)
    {
        slider.setMinimum(0.0);
        slider.setMaximum(120.0);
        slider.setSingleStep(1.0);
        slider.setPageStep(10.0);
        slider.setValueFormat(QStringLiteral("%1 s"));
    }
};

void TestFloatSlider::formatsShortestFloat_data()
{
    QTest::addColumn<float>("value");
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("text");

    QTest::newRow("whole number keeps one decimal") << 35.0f << QStringLiteral("C") << QStringLiteral("35.0");
    QTest::newRow("float digits, not the widened double's") << 0.1f << QStringLiteral("C") << QStringLiteral("0.1");
    QTest::newRow("all the digits a float needs") << 12.25f << QStringLiteral("C") << QStringLiteral("12.25");
    QTest::newRow("negative zero shows as zero") << -0.0f << QStringLiteral("C") << QStringLiteral("0.0");
    QTest::newRow("German decimal comma") << 35.5f << QStringLiteral("de_DE") << QStringLiteral("35,5");
}

void TestFloatSlider::formatsShortestFloat()
{
    QFETCH(float, value);
    QFETCH(QString, locale);
    QFETCH(QString, text);

    const QString shown = FloatSlider::formatValue(value, QLocale(locale));
    QCOMPARE(shown, text);
    // What is shown reads back as the very same float.
    bool ok = false;
    QCOMPARE(QLocale(locale).toFloat(shown, &ok), value);
    QVERIFY(ok);
}

void TestFloatSlider::guardsValuesFromOutside_data()
{
    QTest::addColumn<float>("value");
    QTest::addColumn<float>("shown");
    QTest::addColumn<bool>("warns");

    const float inf = std::numeric_limits<float>::infinity();
    QTest::newRow("inside the range is kept exactly") << 35.3f << 35.3f << false;
    QTest::newRow("the ends are inside") << 120.0f << 120.0f << false;
    QTest::newRow("above the range shows the maximum") << 500.0f << 120.0f << true;
    QTest::newRow("below the range shows the minimum") << -1.0f << 0.0f << true;
    QTest::newRow("infinity shows the maximum") << inf << 120.0f << true;
    QTest::newRow("minus infinity shows the minimum") << -inf << 0.0f << true;
    QTest::newRow("not a number shows the minimum") << std::numeric_limits<float>::quiet_NaN() << 0.0f << true;
}

void TestFloatSlider::guardsValuesFromOutside()
{
    QFETCH(float, value);
    QFETCH(float, shown);
    QFETCH(bool, warns);

    FloatSlider slider;
    slider.setObjectName(QStringLiteral("idleSlider"));
    configure(slider);
    if (warns)
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^Slider idleSlider cannot show ")));
    else
        QTest::failOnWarning(QRegularExpression(QStringLiteral(".*")));
    slider.setFloatValue(value);

    QCOMPARE(slider.floatValue(), shown);
    QCOMPARE(slider.valueText(), FloatSlider::formatValue(shown, slider.locale()) + QStringLiteral(" s"));
    QCOMPARE(slider.slider()->value(), int(std::lround(shown)));
}

void TestFloatSlider::valuesFromCodeCommitNothing()
{
    FloatSlider slider;
    configure(slider);
    QSignalSpy committed(&slider, &FloatSlider::valueCommitted);
    slider.setFloatValue(35.0f);
    slider.setFloatValue(36.0f);
    slider.setMaximum(30.0);
    QCOMPARE(committed.count(), 0);
}

void TestFloatSlider::keyboardStepsCommitOnceEach_data()
{
    QTest::addColumn<float>("start");
    QTest::addColumn<int>("key");
    QTest::addColumn<float>("after");
    QTest::addColumn<int>("commits");

    QTest::newRow("one step right") << 35.0f << int(Qt::Key_Right) << 36.0f << 1;
    QTest::newRow("one step left") << 35.0f << int(Qt::Key_Left) << 34.0f << 1;
    QTest::newRow("a page up") << 35.0f << int(Qt::Key_PageUp) << 45.0f << 1;
    QTest::newRow("to the end") << 35.0f << int(Qt::Key_End) << 120.0f << 1;
    QTest::newRow("no step past the end") << 120.0f << int(Qt::Key_Right) << 120.0f << 0;
    QTest::newRow("a value between steps moves to the next step") << 35.3f << int(Qt::Key_Right) << 36.0f << 1;
}

void TestFloatSlider::keyboardStepsCommitOnceEach()
{
    QFETCH(float, start);
    QFETCH(int, key);
    QFETCH(float, after);
    QFETCH(int, commits);

    FloatSlider slider;
    configure(slider);
    slider.setFloatValue(start);
    QSignalSpy committed(&slider, &FloatSlider::valueCommitted);
    // The value is already the new one when the action is sent.
    float valueAtCommit = -1.0f;
    connect(&slider, &FloatSlider::valueCommitted, this, [&] { valueAtCommit = slider.floatValue(); });

    QTest::keyClick(slider.slider(), Qt::Key(key));

    QCOMPARE(committed.count(), commits);
    QCOMPARE(slider.floatValue(), after);
    if (commits)
        QCOMPARE(valueAtCommit, after);
    QCOMPARE(slider.valueText(), FloatSlider::formatValue(after, slider.locale()) + QStringLiteral(" s"));
}

void TestFloatSlider::dragCommitsOnlyOnRelease()
{
    FloatSlider slider;
    configure(slider);
    slider.resize(400, slider.sizeHint().height());
    slider.show();
    QVERIFY(QTest::qWaitForWindowExposed(&slider));
    slider.setFloatValue(0.0f);

    QSlider *knob = slider.slider();
    QStyleOptionSlider option;
    option.initFrom(knob);
    option.orientation = knob->orientation();
    option.minimum = knob->minimum();
    option.maximum = knob->maximum();
    option.sliderPosition = knob->sliderPosition();
    option.sliderValue = knob->value();
    const QRect handle = knob->style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, knob);
    QVERIFY(handle.isValid());

    QSignalSpy committed(&slider, &FloatSlider::valueCommitted);
    QPoint at = handle.center();
    QTest::mousePress(knob, Qt::LeftButton, {}, at);
    QVERIFY(knob->isSliderDown());
    for (int i = 0; i < 5; ++i) {
        at += QPoint(30, 0);
        QTest::mouseMove(knob, at);
    }
    QCOMPARE(committed.count(), 0);
    // The label follows the knob while it moves.
    const float moved = slider.floatValue();
    QVERIFY2(moved > 0.0f, qPrintable(QString::number(moved)));
    QCOMPARE(slider.findChild<QLabel *>()->text(), slider.valueText());

    QTest::mouseRelease(knob, Qt::LeftButton, {}, at);
    QCOMPARE(committed.count(), 1);
    QCOMPARE(slider.floatValue(), moved);
    QCOMPARE(slider.floatValue(), std::round(slider.floatValue()));
}

QTEST_MAIN(TestFloatSlider)
#include "tst_floatslider.moc"
