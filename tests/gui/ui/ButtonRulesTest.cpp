// The wizard's button rules and navigation.
#include <QCheckBox>
#include <QFocusEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>

#include "GuiTestSupport.h"

using gui_test::WizardTest;

namespace {

std::vector<int> ShownPages(QTabWidget* pages) {
    std::vector<int> shown;
    for (int i = 0; i < pages->count(); ++i)
        if (pages->isTabVisible(i)) shown.push_back(i);
    return shown;
}

void LeaveField(QWidget* field) {
    QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
    QApplication::sendEvent(field, &out);
}

}  // namespace

TEST_F(WizardTest, PagesFollowTheCdAndZipBoxes) {
    struct Case {
        bool cd, zip;
        std::vector<int> pages;
        const char* zipStep;
    } cases[] = {
        {false, false, {0, 1}, "4."},
        {true, false, {0, 1, 2}, "4."},
        {false, true, {0, 1, 3}, "3."},
        {true, true, {0, 1, 2, 3}, "4."},
    };
    Open();
    for (const Case& c : cases) {
        W<QCheckBox>("cbCD")->setChecked(c.cd);
        W<QCheckBox>("cbZip")->setChecked(c.zip);
        EXPECT_EQ(ShownPages(W<QTabWidget>("pgcCopy")), c.pages) << c.cd << c.zip;
        if (c.zip) {
            EXPECT_EQ(W<QLabel>("lbZip")->text(), c.zipStep) << c.cd << c.zip;
        }
    }
    // without the zip box the step label keeps its text
    W<QCheckBox>("cbCD")->setChecked(false);
    W<QCheckBox>("cbZip")->setChecked(false);
    W<QCheckBox>("cbCD")->setChecked(true);
    EXPECT_EQ(W<QLabel>("lbZip")->text(), "3.");
}

TEST_F(WizardTest, NextAndPreviousWalkTheShownPages) {
    Open();
    auto* pages = W<QTabWidget>("pgcCopy");
    auto* next = W<QPushButton>("btnNext");
    auto* previous = W<QPushButton>("btnPrevious");
    EXPECT_EQ(pages->currentIndex(), 0);
    EXPECT_FALSE(previous->isEnabled());
    EXPECT_TRUE(next->isEnabled());

    W<QCheckBox>("cbZip")->setChecked(true);  // pages 0, 1, 3
    form->btnNextClick();
    EXPECT_EQ(pages->currentIndex(), 1);
    EXPECT_TRUE(previous->isEnabled());
    EXPECT_TRUE(next->isEnabled());
    form->btnNextClick();
    EXPECT_EQ(pages->currentIndex(), 3) << "straight to the zip options";
    EXPECT_FALSE(next->isEnabled()) << "last shown page";
    form->btnPreviousClick();
    EXPECT_EQ(pages->currentIndex(), 1);
    form->btnPreviousClick();
    EXPECT_EQ(pages->currentIndex(), 0);
    EXPECT_FALSE(previous->isEnabled());

    // only CD: the CD page is the last
    W<QCheckBox>("cbZip")->setChecked(false);
    W<QCheckBox>("cbCD")->setChecked(true);
    form->btnNextClick();
    form->btnNextClick();
    EXPECT_EQ(pages->currentIndex(), 2);
    EXPECT_FALSE(next->isEnabled());

    // a click on a tab runs the rules too
    W<QCheckBox>("cbCD")->setChecked(false);
    pages->setCurrentIndex(1);
    EXPECT_FALSE(next->isEnabled());
    EXPECT_TRUE(previous->isEnabled());
}

TEST_F(WizardTest, ZipNameFollowsTheRulesWhenTheFieldIsLeft) {
    Open();
    auto* zip = W<QLineEdit>("edtZip");
    EXPECT_EQ(zip->text(), "Tallomir.zip");
    for (auto [typed, expected] : {std::pair{"", "Tallomir.zip"},
                                   {"Out", "Out.zip"},
                                   {"Out.ZIP", "Out.zip"},
                                   {"Out.", "Out.zip"},
                                   {"Out.zip", "Out.zip"}}) {
        zip->setText(typed);
        LeaveField(zip);
        EXPECT_EQ(zip->text(), expected) << typed;
        EXPECT_EQ(form->State().options.zipFile, expected);
    }
}

TEST_F(WizardTest, PathFieldIsTrimmedWhenLeftButNotWhenTheWindowLosesFocus) {
    Open();
    auto* path = W<QLineEdit>("edtPath");
    path->setText("  C:\\Data\\\\ ");
    QFocusEvent windowOut(QEvent::FocusOut, Qt::ActiveWindowFocusReason);
    QApplication::sendEvent(path, &windowOut);
    EXPECT_EQ(path->text(), "  C:\\Data\\\\ ");
    LeaveField(path);
    EXPECT_EQ(path->text(), "C:\\Data\\");
    EXPECT_EQ(form->State().options.path, "C:\\Data\\");
}

TEST_F(WizardTest, MessageControlsFollowTheExeAndMessageBoxes) {
    Open();
    auto* exe = W<QCheckBox>("cbEXE");
    auto* readme = W<QCheckBox>("cbReadme");
    auto* memo = W<QPlainTextEdit>("memReadme");
    auto* note = W<QLabel>("lbReadMe");
    EXPECT_FALSE(readme->isEnabled());
    EXPECT_FALSE(memo->isEnabled());
    exe->setChecked(true);
    EXPECT_TRUE(readme->isEnabled());
    EXPECT_FALSE(memo->isEnabled());
    readme->setChecked(true);
    memo->setPlainText("Hello");
    EXPECT_TRUE(memo->isEnabled());
    EXPECT_TRUE(note->isEnabled());
    exe->setChecked(false);
    EXPECT_FALSE(readme->isEnabled());
    EXPECT_FALSE(memo->isEnabled());
    EXPECT_FALSE(note->isEnabled());
    EXPECT_TRUE(readme->isChecked()) << "contents are kept";
    EXPECT_EQ(memo->toPlainText(), "Hello");
    EXPECT_TRUE(form->State().options.readme);
    EXPECT_FALSE(form->State().options.exe);
}

TEST_F(WizardTest, TablesPageToggles) {
    Open().show();
    auto* inner = W<QTabWidget>("pgcWorkspaces");
    EXPECT_FALSE(inner->isTabVisible(1));
    EXPECT_FALSE(inner->isTabVisible(2));
    EXPECT_FALSE(inner->isTabVisible(3));
    QTest::mouseClick(W<QLabel>("Label3"), Qt::LeftButton);
    EXPECT_TRUE(inner->isTabVisible(1));
    QTest::mouseDClick(W<QLabel>("Image2"), Qt::LeftButton);
    EXPECT_FALSE(inner->isTabVisible(1));
    // the logo only works on the first page
    W<QTabWidget>("pgcCopy")->setCurrentIndex(1);
    QTest::mouseDClick(W<QLabel>("Image2"), Qt::LeftButton);
    EXPECT_FALSE(inner->isTabVisible(1));
    EXPECT_FALSE(inner->isTabVisible(2)) << "the hidden pages never show";
}

TEST_F(WizardTest, EscapeDoesNotCloseTheWizard) {
    Open().show();
    bool closed = false;
    QObject::connect(form.get(), &ui::TCopyForm::closed, [&] { closed = true; });
    QTest::keyClick(form.get(), Qt::Key_Escape);
    EXPECT_TRUE(form->isVisible());
    EXPECT_FALSE(closed);
}
