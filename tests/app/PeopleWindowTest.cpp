#include "ShellSessionAdapter.hpp"
#include "ViewModelFixture.hpp"
#include "WindowHarness.hpp"

#include <QQuickItem>
#include <QTest>
#include <gtest/gtest.h>

namespace lumora {
namespace {

// The People section of the application's window over a launched view model.
class PeopleWindowTest : public ::testing::Test {
protected:
    // Launches with `arguments` and opens the window on People.
    bool launch(const QStringList& arguments)
    {
        page.close();
        session.reset();
        model = home.viewModel(arguments);
        session
            = std::make_unique<ShellSessionAdapter>(*model, [] { return QDateTime::currentDateTimeUtc(); });
        if (!page.openWindow(*session))
            return false;
        page.press(Qt::Key_3, Qt::ControlModifier);
        return page.shows("peoplePage");
    }
    // Empties the seat's field as a person would and types `text` into it.
    void retype(const QString& field, const QString& text)
    {
        page.type(field, QString());
        page.press(Qt::Key_A, Qt::ControlModifier);
        page.press(Qt::Key_Backspace);
        page.type(field, text);
    }
    QString field(const QString& name) const { return page.find(name)->property("text").toString(); }

    testing::ViewModelHome home;
    std::unique_ptr<SessionViewModel> model;
    std::unique_ptr<ShellSessionAdapter> session;
    // Last, so that the window goes before the objects it reads.
    testing::WindowHarness page;
};

TEST_F(PeopleWindowTest, WithoutReviewsTheTrendsAreEmptyAndNamesAreKeptAsStored)
{
    ASSERT_TRUE(launch({ "--ui-sign-in" }));
    EXPECT_TRUE(page.shows("emptyTrends"));
    EXPECT_FALSE(page.shows("trends"));
    EXPECT_EQ(field("leftEditorField"), "Person 1");
    EXPECT_EQ(field("rightEditorField"), "Person 2");

    // Return saves the left seat, trimmed; Save saves an empty one as its standard name and a
    // long one cut to 32 characters.
    retype("leftEditorField", "  Sam  ");
    page.press(Qt::Key_Return);
    EXPECT_EQ(model->participantNames().at(0), "Sam");
    EXPECT_EQ(field("leftEditorField"), "Sam");
    retype("leftEditorField", QString());
    page.click("leftEditorSave");
    EXPECT_EQ(model->participantNames().at(0), "Person 1");
    EXPECT_EQ(field("leftEditorField"), "Person 1");
    retype("leftEditorField", "  Sam  ");
    page.click("leftEditorSave");
    retype("rightEditorField", QString(40, u'x'));
    page.click("rightEditorSave");
    EXPECT_EQ(model->participantNames(), QStringList({ "Sam", QString(32, u'x') }));
    EXPECT_EQ(field("rightEditorField"), QString(32, u'x'));
    page.screenshot("people-names-saved");

    // A name longer than the narrow window's field shows from its start once the field is left.
    retype("rightEditorField", "Bartholomew Featherstonehaugh Jr");
    page.click("rightEditorSave");
    page.resize(QSize(920, 680));
    page.press(Qt::Key_Tab);
    auto* input = qobject_cast<QQuickItem*>(page.find("rightEditorField"));
    ASSERT_FALSE(input->hasActiveFocus());
    ASSERT_GT(input->property("contentWidth").toReal(), input->width())
        << "the name is longer than the field";
    QRectF first;
    QMetaObject::invokeMethod(input, "positionToRectangle", Q_RETURN_ARG(QRectF, first), Q_ARG(int, 0));
    EXPECT_GE(first.x(), input->property("leftPadding").toReal() - 0.5) << "the first letter is cut";
    page.screenshot("people-long-name-920");
    page.resize(testing::WindowHarness::desktop);
    retype("rightEditorField", QString(32, u'x'));
    page.click("rightEditorSave");

    // The next launch reads them.
    ASSERT_TRUE(launch({ "--ui-sign-in" }));
    EXPECT_EQ(model->participantNames(), QStringList({ "Sam", QString(32, u'x') }));
    EXPECT_EQ(field("leftEditorField"), "Sam");
    EXPECT_EQ(field("rightEditorField"), QString(32, u'x'));
}

TEST_F(PeopleWindowTest, TheSmokeLaunchShowsATrendCardPerSeatOverItsDemoReview)
{
    ASSERT_TRUE(launch({ "--ui-smoke" }));
    EXPECT_FALSE(page.shows("emptyTrends"));
    EXPECT_TRUE(page.shows("leftTrend"));
    EXPECT_TRUE(page.shows("rightTrend"));
    EXPECT_EQ(page.text("leftTrendName"), "PERSON 1");
    EXPECT_EQ(page.text("rightTrendName"), "PERSON 2");
    EXPECT_TRUE(page.text("leftTrendLine").startsWith(u"1 conversations \u00b7 avg share"_qs))
        << page.text("leftTrendLine").toStdString();
    page.scrollTo("trends");
    page.screenshot("people-smoke-trends");
}

} // namespace
} // namespace lumora
