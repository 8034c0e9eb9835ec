// The configuration dialog, headless: its layout, the start-up reads, O.K.
// and the ways of closing without writing, and the tablet page over a
// replayed pen recording.

#include "app/Config_f.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QApplication>
#include <QFontDatabase>
#include <QFontDialog>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSpinBox>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>
#include <algorithm>
#include <filesystem>
#include <memory>

#include "app/Define.h"
#include "app/Settings.h"
#include "platform/Files.h"
#include "platform/Messages.h"
#include "platform/Registry.h"
#include "tests/app/SettingsKeys.h"
#include "tests/common/TestSupport.h"
#include "tests/drivers/DriverFixture.h"
#include "tests/drivers/Recording.h"

namespace reg = platform::registry;
using platform::MessageKind;
using platform::RecordingMessageSink;
using testsupport::ReadFile;
using testsupport::ScopedEnv;
using testsupport::TempDir;
using testsupport::WriteFile;

using namespace settingskeys;

namespace {

void Key(QWidget* target, int key, const QString& text = QString()) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
    QApplication::sendEvent(target, &press);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
    QApplication::sendEvent(target, &release);
}

class ConfigFormTest : public ::testing::Test {
  protected:
    TempDir dir;
    ScopedEnv registry{"VELSERIN_REGISTRY_DIR", dir.File("registry")};
    ScopedEnv config{"XDG_CONFIG_HOME", dir.File("config")};
    ScopedEnv home{"HOME", dir.File("home")};
    // No tablet unless a test replays one.
    ScopedEnv wintab{"VELSERIN_WINTAB", dir.File("no-driver/libwintab32.so")};
    ScopedEnv replay{"VELSERIN_WINTAB_REPLAY", std::nullopt};
    RecordingMessageSink messages;
    platform::ScopedMessageSink sink{&messages};
    const std::string hivePath = dir.File("registry/system.reg");
    const std::string settingsFolder = dir.File("config/Ostrevin/VelSerin4.0/Velserin");
    const std::string statusPath = settingsFolder + "/status.ini";

    void SetUp() override { ::mkdir(dir.File("config").c_str(), 0700); }

    void WriteHive(const std::string& bytes) {
        ::mkdir(dir.File("registry").c_str(), 0700);
        WriteFile(hivePath, "Windows Registry Editor Version 5.00\n\n" + bytes);
    }
    void WriteStatus(const std::string& bytes) {
        std::filesystem::create_directories(settingsFolder);
        WriteFile(statusPath, bytes);
    }
    std::string Stored(const char* key, const char* name) {
        reg::Value v;
        if (reg::QueryValue(reg::Root::LocalMachine, key, name, &v) != reg::Lookup::Found)
            return "<none>";
        return v.Text();
    }
    std::string Common(const char* name) { return Stored(kCommonPath, name); }
    std::string Directory(const char* name) { return Stored(kDirectoryPath, name); }
    std::vector<std::string> Shown() {
        std::vector<std::string> texts;
        for (const auto& e : messages.entries)
            texts.push_back(e.text);
        return texts;
    }
    // A shown form, as the entry shows it.
    std::unique_ptr<TConfigForm> Open() {
        auto form = std::make_unique<TConfigForm>();
        form->show();
        return form;
    }
    // The stores' bytes, to show that nothing was written.
    std::string Snapshot() {
        return (platform::FileExists(hivePath) ? ReadFile(hivePath) : "<no hive>") + "|" +
               (platform::FileExists(statusPath) ? ReadFile(statusPath) : "<no status.ini>");
    }
};

std::vector<QRadioButton*> Checked(TConfigForm& f) {
    std::vector<QRadioButton*> on;
    for (QRadioButton* b : f.findChildren<QRadioButton*>())
        if (b->isChecked())
            on.push_back(b);
    std::sort(on.begin(), on.end());
    return on;
}

std::vector<QRadioButton*> Sorted(std::vector<QRadioButton*> buttons) {
    std::sort(buttons.begin(), buttons.end());
    return buttons;
}

}  // namespace

// ---- Layout ---------------------------------------------------------------------

TEST_F(ConfigFormTest, LayoutHasEveryControlWithItsCaption) {
    auto f = Open();
    EXPECT_EQ(f->windowTitle(), "Configuration");
    EXPECT_EQ(f->minimumSize(), f->maximumSize()) << "fixed border";
    EXPECT_FALSE(f->windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    const QPoint centre = f->pos() + QPoint(f->width() / 2, f->height() / 2);
    EXPECT_LE(std::abs(centre.x() - screen.center().x()), 1);
    EXPECT_LE(std::abs(centre.y() - screen.center().y()), 1);

    EXPECT_EQ(f->PageControl1->size(), QSize(600, 265));
    EXPECT_EQ(f->pnTablet->size(), QSize(289, 121));
    const struct {
        const char* name;
        const char* caption;
    } pages[] = {{"tsDirectory", "Directory"}, {"tsLanguage", "Language"},
                 {"tsTablet", "Tablet"},       {"SizeType", "SizeType / DPI"},
                 {"rbUnit", "MainImage"},      {"FileOpen", "FileOpen"}};
    ASSERT_EQ(f->PageControl1->count(), 6);
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(f->PageControl1->widget(i)->objectName(), pages[i].name);
        EXPECT_EQ(f->PageControl1->tabText(i), pages[i].caption);
        EXPECT_EQ(f->PageControl1->isTabEnabled(i), i != 2) << pages[i].name;
    }
    EXPECT_EQ(f->PageControl1->currentWidget(), f->tsDirectory);

    // Every named control, its caption and the page it sits on.
    const struct {
        const char* name;
        const char* caption;
        QWidget* page;
    } controls[] = {
        {"FontButton", "...", f->tsDirectory},
        {"rbChinese", "Chinese", f->tsLanguage},
        {"rbEnglish", "English", f->tsLanguage},
        {"rbIndona", "Indonesian", f->tsLanguage},
        {"rbJapanese", "Japanese", f->tsLanguage},
        {"rbHangul", "Korean", f->tsLanguage},
        {"rbTaiwanese", "Taiwanese", f->tsLanguage},
        {"rbThai", "Thai", f->tsLanguage},
        {"lbName", "Name : None", f->tsTablet},
        {"gbMaxNPressure", " Max Normal Pressure ", f->tsTablet},
        {"lbMaximum", "Maximum :", f->tsTablet},
        {"lbCurrent", "Current", f->tsTablet},
        {"btnReset", "Reset", f->tsTablet},
        {"TA4", "A4", f->SizeType},
        {"TA3", "A3", f->SizeType},
        {"TA2", "A2", f->SizeType},
        {"TA1", "A1", f->SizeType},
        {"TA0", "A0", f->SizeType},
        {"TLetter", "Letter", f->SizeType},
        {"TLegal", "Legal", f->SizeType},
        {"TTabloid", "Tabloid", f->SizeType},
        {"TCm", "Cm", f->rbUnit},
        {"TInch", "Inch", f->rbUnit},
        {"TDot", "Dot", f->rbUnit},
        {"rbREAD", "READ", f->FileOpen},
        {"rbMERGE", "MERGE", f->FileOpen},
        {"btOK", "O.K", f.get()},
        {"btCancel", "Cancel", f.get()},
    };
    for (const auto& c : controls) {
        SCOPED_TRACE(c.name);
        QWidget* w = f->findChild<QWidget*>(c.name);
        ASSERT_NE(w, nullptr);
        EXPECT_TRUE(c.page == f.get() || c.page->isAncestorOf(w));
        QString caption;
        if (auto* b = qobject_cast<QAbstractButton*>(w))
            caption = b->text();
        else if (auto* l = qobject_cast<QLabel*>(w))
            caption = l->text();
        else if (auto* g = qobject_cast<QGroupBox*>(w))
            caption = g->title();
        EXPECT_EQ(caption, c.caption);
    }
    for (const char* name :
         {"lbVersion", "edColor", "stFont", "TDPI", "edVelSerinOpen", "pnTablet", "PageControl1"})
        EXPECT_NE(f->findChild<QWidget*>(name), nullptr) << name;
    EXPECT_TRUE(f->gbMaxNPressure->isAncestorOf(f->pnTablet));
    EXPECT_TRUE(f->lbVersion->text().startsWith("Version : "));
    EXPECT_TRUE(f->lbVersion->text().endsWith(QString::fromStdString(Define::SuiteVersion)));

    // Static texts of the pages that have no names of their own.
    QStringList labels;
    for (QLabel* l : f->findChildren<QLabel*>())
        labels << l->text();
    for (const char* text : {"Color", "Font", "DPI", "Unit : ", "VelSerinOpen", "VelSerin SELECT"})
        EXPECT_TRUE(labels.contains(text)) << text;

    // O.K at the bottom right, Cancel to its right.
    const QPoint ok = f->btOK->mapTo(f.get(), QPoint());
    const QPoint cancel = f->btCancel->mapTo(f.get(), QPoint());
    EXPECT_GT(cancel.x(), ok.x() + f->btOK->width() - 1);
    EXPECT_EQ(ok.y(), cancel.y());
    EXPECT_GT(ok.y(), f->PageControl1->geometry().bottom());
    EXPECT_TRUE(f->btOK->isDefault());

    // Fonts: the dialog bold, pages and buttons regular, the DPI label larger.
    EXPECT_EQ(f->font().pixelSize(), 13);
    EXPECT_TRUE(f->font().bold());
    EXPECT_EQ(f->font().family(), "Verdana");
    for (QWidget* w : {static_cast<QWidget*>(f->PageControl1), static_cast<QWidget*>(f->btOK),
                       static_cast<QWidget*>(f->btCancel), f->tsLanguage}) {
        EXPECT_EQ(w->font().pixelSize(), 13);
        EXPECT_FALSE(w->font().bold());
    }
    EXPECT_EQ(f->lbDPI->font().family(), "MS Sans Serif");
    EXPECT_EQ(f->lbDPI->font().pixelSize(), 24);

    // The language buttons' keyboard order.
    QWidget* order[] = {f->rbEnglish, f->rbHangul,   f->rbTaiwanese, f->rbChinese,
                        f->rbThai,    f->rbJapanese, f->rbIndona};
    for (int i = 0; i + 1 < 7; ++i)
        EXPECT_EQ(order[i]->nextInFocusChain(), order[i + 1]) << i;

    EXPECT_EQ(f->TDPI->minimum(), 0);
    EXPECT_EQ(f->TDPI->maximum(), 1000);
    EXPECT_EQ(f->TDPI->singleStep(), 1);
}

TEST_F(ConfigFormTest, EveryPageShowsItsControlsWithoutOverlapOrClipping) {
    auto f = Open();
    f->PageControl1->setTabEnabled(2, true);  // to lay the tablet page out as well
    for (int i = 0; i < f->PageControl1->count(); ++i) {
        f->PageControl1->setCurrentIndex(i);
        QCoreApplication::processEvents();
        QWidget* page = f->PageControl1->widget(i);
        SCOPED_TRACE(page->objectName().toStdString());
        std::vector<QWidget*> leaves;
        for (QWidget* w : page->findChildren<QWidget*>()) {
            if (qobject_cast<QAbstractButton*>(w) || qobject_cast<QLabel*>(w) ||
                qobject_cast<QLineEdit*>(w) || qobject_cast<QSpinBox*>(w))
                if (!qobject_cast<QSpinBox*>(w->parentWidget()))
                    leaves.push_back(w);
        }
        ASSERT_FALSE(leaves.empty());
        const QRect area = page->rect();
        for (QWidget* w : leaves) {
            const QRect r(w->mapTo(page, QPoint()), w->size());
            EXPECT_TRUE(area.contains(r)) << w->objectName().toStdString();
            auto* push = qobject_cast<QPushButton*>(w);
            if (push && push->minimumWidth() == push->maximumWidth())
                EXPECT_GT(w->width(), w->fontMetrics().horizontalAdvance(push->text()) + 8);
            else
                EXPECT_GE(w->width(), w->sizeHint().width()) << w->objectName().toStdString();
            EXPECT_GE(w->height(), w->minimumSizeHint().height()) << w->objectName().toStdString();
            for (QWidget* other : leaves) {
                if (other == w)
                    continue;
                const QRect o(other->mapTo(page, QPoint()), other->size());
                EXPECT_FALSE(r.intersects(o)) << w->objectName().toStdString() << " and "
                                              << other->objectName().toStdString();
            }
        }
    }
}

// ---- Loading and O.K. -----------------------------------------------------------

TEST_F(ConfigFormTest, EmptyStoreShowsDefaultsAndOKWritesThemAll) {
    auto f = Open();
    EXPECT_TRUE(Shown().empty());
    Define::InitializeDefinitions();
    EXPECT_EQ(Checked(*f), Sorted({f->rbEnglish, f->TA4, f->TCm, f->rbREAD})) << "one per group";
    EXPECT_EQ(f->stFont->text(), "Microsoft Sans Serif");
    EXPECT_EQ(f->edColor->text().toStdString(), Define::DefaultDirectory + "/Color");
    EXPECT_EQ(f->edVelSerinOpen->text().toStdString(), dir.File("home") + "/Pattern");
    EXPECT_EQ(f->TDPI->value(), 160);
    EXPECT_EQ(f->lbName->text(), "Name : None");
    EXPECT_EQ(f->lbCurrent->text(), "Current");
    EXPECT_EQ(f->SettingsFolder(), settingsFolder);
    EXPECT_EQ(f->CompanyFolder(), dir.File("config/Ostrevin/VelSerin4.0"));
    EXPECT_TRUE(std::filesystem::is_directory(settingsFolder));
    EXPECT_FALSE(platform::FileExists(hivePath)) << "reading writes nothing";

    f->btOK->click();
    EXPECT_FALSE(f->isVisible());
    EXPECT_TRUE(Shown().empty());
    EXPECT_EQ(Common("Language"), "English");
    EXPECT_EQ(Common("DefaultFontName"), "Microsoft Sans Serif");
    EXPECT_EQ(Common("MaxNPressure"), "0");
    EXPECT_EQ(Common("TREG_Size"), "cstA4");
    EXPECT_EQ(Common("TUnits"), "uCm");
    EXPECT_EQ(Common("Select"), "READ");
    EXPECT_EQ(Directory("Color"), Define::DefaultDirectory + "/Color");
    EXPECT_EQ(Directory("VelserinOpen"), dir.File("home") + "/Pattern");
    EXPECT_EQ(Directory("Defaultdir"), "<none>");
    EXPECT_EQ(ReadFile(statusPath), "[CanvasInfor]\nDPI=160\n");
}

TEST_F(ConfigFormTest, OKWithoutChangesWritesTheStoredValuesBack) {
    const struct {
        const char *language, *units, *select, *size, *dpi;
        QRadioButton* TConfigForm::*languageButton;
        QRadioButton* TConfigForm::*unitButton;
        QRadioButton* TConfigForm::*selectButton;
        QRadioButton* TConfigForm::*sizeButton;
        int shownDpi;
        const char* writtenDpi;
    } cases[] = {
        {"Korean", "uInch", "MERGE", "cstLetter", "300", &TConfigForm::rbHangul,
         &TConfigForm::TInch, &TConfigForm::rbMERGE, &TConfigForm::TLetter, 300, "300"},
        {"Indonesian", "uDot", "READ", "cstTabloid", "1000", &TConfigForm::rbIndona,
         &TConfigForm::TDot, &TConfigForm::rbREAD, &TConfigForm::TTabloid, 1000, "1000"},
        {"Thai", "uCm", "MERGE", "cstA0", "0", &TConfigForm::rbThai, &TConfigForm::TCm,
         &TConfigForm::rbMERGE, &TConfigForm::TA0, 0, "0"},
        // Outside the vocabularies: the default shown, the text kept.
        {"english", "uinch", "Read", "A3", "1500", &TConfigForm::rbEnglish, &TConfigForm::TCm,
         &TConfigForm::rbREAD, &TConfigForm::TA4, 1000, "1000"},
        {"", "", "", "", "-5", &TConfigForm::rbEnglish, &TConfigForm::TCm, &TConfigForm::rbREAD,
         &TConfigForm::TA4, 0, "0"},
        {"Japanese", "uDot ", "MERGE", "cstLegal", "high", &TConfigForm::rbJapanese,
         &TConfigForm::TCm, &TConfigForm::rbMERGE, &TConfigForm::TLegal, 160, "160"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.language);
        std::string common =
            std::string(kCommonKey) + "\"Language\"=\"" + c.language + "\"\n" + "\"TUnits\"=\"" +
            c.units + "\"\n" + "\"Select\"=\"" + c.select + "\"\n" + "\"TREG_Size\"=\"" + c.size +
            "\"\n" + "\"DefaultFontName\"=\"Courier Old\"\n" + "\"MaxNPressure\"=\"512\"\n\n";
        std::string directory = std::string(kDirectoryKey) + "\"Color\"=\"/data/colour \"\n" +
                                "\"VelserinOpen\"=\"\"\n";
        WriteHive(common + directory);
        WriteStatus(std::string("[Other]\nx=1\n[CanvasInfor]\nDPI=") + c.dpi + "\n");

        auto f = Open();
        EXPECT_EQ(Checked(*f), Sorted({(*f).*c.languageButton, (*f).*c.sizeButton,
                                       (*f).*c.unitButton, (*f).*c.selectButton}));
        EXPECT_EQ(f->TDPI->value(), c.shownDpi);
        EXPECT_EQ(f->stFont->text(), "Courier Old");
        EXPECT_EQ(f->edColor->text(), "/data/colour ");
        EXPECT_EQ(f->edVelSerinOpen->text(), "");
        f->btOK->click();
        EXPECT_FALSE(f->isVisible());
        EXPECT_TRUE(Shown().empty());

        EXPECT_EQ(Common("Language"), c.language);
        EXPECT_EQ(Common("TUnits"), c.units);
        EXPECT_EQ(Common("Select"), c.select);
        EXPECT_EQ(Common("TREG_Size"), c.size);
        EXPECT_EQ(Common("DefaultFontName"), "Courier Old");
        EXPECT_EQ(Common("MaxNPressure"), "0") << "no tablet";
        EXPECT_EQ(Directory("Color"), "/data/colour ");
        EXPECT_EQ(Directory("VelserinOpen"), "");
        EXPECT_EQ(ReadFile(statusPath),
                  std::string("[Other]\nx=1\n[CanvasInfor]\nDPI=") + c.writtenDpi + "\n");
    }
}

TEST_F(ConfigFormTest, ChoicesReachTheStoreThroughTheirHandlers) {
    WriteHive(std::string(kCommonKey) + "\"Language\"=\"klingon\"\n\"TUnits\"=\"UINCH\"\n");
    auto f = Open();
    EXPECT_EQ(f->Language(), "klingon");
    EXPECT_EQ(f->Units(), "UINCH");
    EXPECT_TRUE(f->TCm->isChecked());

    // A handler ignores buttons that are not its own.
    f->rbLanguageClick(f->TA3);
    f->rbSizeType(f->rbThai);
    f->rbUnits(f->btOK);
    f->rbSelect(nullptr);
    EXPECT_EQ(f->Language(), "klingon");
    EXPECT_EQ(f->SizeTypeToken(), "cstA4");
    EXPECT_EQ(f->Units(), "UINCH");
    EXPECT_EQ(f->Select(), "READ");

    f->rbTaiwanese->click();
    f->TA2->click();
    f->TDot->click();
    f->TCm->click();  // picked after another: the user's choice
    f->rbMERGE->setChecked(true);
    f->edColor->setText("C:/colours");
    f->edVelSerinOpen->setText("/srv/patterns");
    f->TDPI->setValue(96);
    EXPECT_EQ(f->Language(), "Taiwanese");
    EXPECT_EQ(f->Select(), "MERGE");
    f->btOK->click();
    EXPECT_EQ(Common("Language"), "Taiwanese");
    EXPECT_EQ(Common("TREG_Size"), "cstA2");
    EXPECT_EQ(Common("TUnits"), "uCm");
    EXPECT_EQ(Common("Select"), "MERGE");
    EXPECT_EQ(Directory("Color"), "C:/colours");
    EXPECT_EQ(Directory("VelserinOpen"), "/srv/patterns");
    EXPECT_EQ(ReadFile(statusPath), "[CanvasInfor]\nDPI=96\n");
}

TEST_F(ConfigFormTest, TypedDPIStaysWithinTheSpinBoxRange) {
    const struct {
        const char* typed;
        int value;
    } cases[] = {{"1000", 1000}, {"1001", 100}, {"2000", 200}, {"-3", 3}, {"0", 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.typed);
        auto f = Open();
        auto* edit = f->TDPI->findChild<QLineEdit*>();
        ASSERT_NE(edit, nullptr);
        f->TDPI->setFocus();
        edit->selectAll();
        Key(edit, Qt::Key_Delete);
        for (QChar ch : QString(c.typed))
            Key(edit, ch == '-' ? Qt::Key_Minus : Qt::Key_0 + (ch.unicode() - '0'), QString(ch));
        // Enter in the spin box presses O.K. with the number as typed.
        Key(edit, Qt::Key_Return);
        EXPECT_FALSE(f->isVisible());
        EXPECT_EQ(ReadFile(statusPath), "[CanvasInfor]\nDPI=" + std::to_string(c.value) + "\n");
    }
}

TEST_F(ConfigFormTest, ClosingWithoutOKWritesNothing) {
    WriteHive(std::string(kCommonKey) + "\"Language\"=\"Thai\"\n");
    WriteStatus("[CanvasInfor]\nDPI=200\n");
    const std::string before = Snapshot();
    const struct {
        const char* how;
        void (*close)(TConfigForm&);
    } ways[] = {
        {"Cancel", [](TConfigForm& f) { f.btCancel->click(); }},
        {"Escape", [](TConfigForm& f) { Key(f.edColor, Qt::Key_Escape); }},
        {"close box", [](TConfigForm& f) { f.close(); }},
    };
    for (const auto& w : ways) {
        SCOPED_TRACE(w.how);
        auto f = Open();
        f->edColor->setFocus();
        f->rbChinese->click();
        f->TA1->click();
        f->TDPI->setValue(999);
        f->btnResetClick(f->btnReset);
        w.close(*f);
        EXPECT_FALSE(f->isVisible());
        EXPECT_EQ(Snapshot(), before);
    }
    // Enter from an edit box is O.K.
    auto f = Open();
    f->edColor->setFocus();
    f->edColor->setText("/typed");
    Key(f->edColor, Qt::Key_Return);
    EXPECT_FALSE(f->isVisible());
    EXPECT_EQ(Directory("Color"), "/typed");
    EXPECT_EQ(Common("Language"), "Thai");

    // Enter on a focused button presses that button.
    std::filesystem::remove(hivePath);
    const std::string cleared = Snapshot();
    f = Open();
    f->btCancel->setFocus();
    Key(f->btCancel, Qt::Key_Return);
    EXPECT_FALSE(f->isVisible());
    EXPECT_EQ(Snapshot(), cleared);
}

TEST_F(ConfigFormTest, FontDialogChangesTheNameOnlyWhenConfirmed) {
    const QStringList families = QFontDatabase::families();
    ASSERT_FALSE(families.isEmpty());
    const QString chosen = families.first();
    for (bool confirm : {false, true}) {
        SCOPED_TRACE(confirm);
        auto f = Open();
        QTimer::singleShot(0, f.get(), [&] {
            ASSERT_TRUE(f->FontDialog->isVisible());
            f->FontDialog->setCurrentFont(QFont(chosen));
            if (confirm)
                f->FontDialog->accept();
            else
                f->FontDialog->reject();
        });
        f->FontButton->click();
        const QString expected = confirm ? chosen : QString("Microsoft Sans Serif");
        EXPECT_EQ(f->stFont->text(), expected);
        f->btOK->click();
        EXPECT_EQ(Common("DefaultFontName"), expected.toStdString());
    }
}

TEST_F(ConfigFormTest, FailedWritesAreShownAndTheDialogStaysOpen) {
    // A hive that cannot be replaced: the first key fails, nothing is written.
    {
        auto f = Open();
        ::mkdir(dir.File("registry").c_str(), 0700);
        ::mkdir(hivePath.c_str(), 0700);
        f->btOK->click();
        EXPECT_TRUE(f->isVisible());
        EXPECT_EQ(Shown(), std::vector<std::string>{"Failed to create key Common"});
        EXPECT_FALSE(platform::FileExists(statusPath));
        ::rmdir(hivePath.c_str());
        // Put right, O.K. goes through.
        messages.entries.clear();
        f->btOK->click();
        EXPECT_FALSE(f->isVisible());
        EXPECT_TRUE(Shown().empty());
        EXPECT_EQ(Common("Language"), "English");
    }
    // status.ini refused: the registry is written, the error shown.
    {
        std::filesystem::remove(statusPath);
        WriteHive(std::string(kCommonKey) + "\"Language\"=\"Thai\"\n");
        auto f = Open();
        f->rbHangul->click();
        ::mkdir(statusPath.c_str(), 0700);
        f->btOK->click();
        EXPECT_TRUE(f->isVisible());
        EXPECT_EQ(Shown(), std::vector<std::string>{"Unable to write to " + statusPath});
        EXPECT_EQ(Common("Language"), "Korean");
    }
}

TEST_F(ConfigFormTest, StartUpFailuresLeaveTheConstructor) {
    // A file where the settings folder belongs.
    {
        std::filesystem::create_directories(dir.File("config/Ostrevin/VelSerin4.0"));
        WriteFile(settingsFolder, "");
        try {
            TConfigForm f;
            ADD_FAILURE() << "constructed";
        } catch (const velserin::FolderCreateError& e) {
            EXPECT_EQ(std::string(e.what()), "Cannot create " + settingsFolder);
        }
        std::filesystem::remove(settingsFolder);
    }
    // A value of another registry type.
    WriteHive(std::string(kCommonKey) + "\"Select\"=dword:00000001\n");
    try {
        TConfigForm f;
        ADD_FAILURE() << "constructed";
    } catch (const velserin::InvalidDataTypeError& e) {
        EXPECT_STREQ(e.what(), "Invalid data type for 'Select'");
    }
}

// ---- The tablet page ----------------------------------------------------------------

namespace {

struct PenPoint {
    QPoint screen;
    int pressure;
};

// The driver's device-to-screen mapping inverted, aiming at pixel centres.
int DeviceCoordinate(int pixel, int screenExtent, int deviceMaximum) {
    return int((std::int64_t(2 * pixel + 1) * (deviceMaximum + 1)) / (2 * screenExtent));
}

std::string Recording(const TempDir& dir, const std::vector<PenPoint>& points) {
    tablettest::TabletModel model;
    tablettest::EventLines e;
    const QSize screen = QGuiApplication::primaryScreen()->size();
    std::int64_t t = 0;
    e.Report(t, {{ABS_X, 0}, {ABS_Y, 0}, {ABS_PRESSURE, 0}}, {{BTN_TOOL_PEN, 1}});
    for (const PenPoint& p : points) {
        t += 2000;
        e.Report(t, {{ABS_X, DeviceCoordinate(p.screen.x(), screen.width(), 15199)},
                     {ABS_Y, DeviceCoordinate(p.screen.y(), screen.height(), 9499)},
                     {ABS_PRESSURE, p.pressure}});
    }
    const std::string path = dir.File("pen.rec");
    WriteFile(path, tablettest::DeviceLines(model) + e.Text());
    return path;
}

}  // namespace

class ConfigFormTabletTest : public ConfigFormTest {
  protected:
    // Where the pressing panel shows on the screen: every dialog is laid out
    // and placed alike.
    void SetUp() override {
        ConfigFormTest::SetUp();
        auto f = Open();
        f->PageControl1->setTabEnabled(2, true);
        f->PageControl1->setCurrentWidget(f->tsTablet);
        QCoreApplication::processEvents();
        panel = QRect(f->pnTablet->mapToGlobal(QPoint()), f->pnTablet->size());
        ASSERT_TRUE(QGuiApplication::primaryScreen()->geometry().contains(panel));
        f->close();
        std::filesystem::remove_all(dir.File("config/Ostrevin"));
    }
    // A form on a replayed pen; the pen's packets are handled once the
    // caller's `before` has run, by the event loop as a user's would be.
    std::unique_ptr<TConfigForm> OpenWithPen(const std::vector<PenPoint>& points,
                                             const std::function<void(TConfigForm&)>& before) {
        driver.emplace("VELSERIN_WINTAB", std::string(tablettest::DriverPath()));
        pen.emplace("VELSERIN_WINTAB_REPLAY", Recording(dir, points));
        auto f = std::make_unique<TConfigForm>();
        before(*f);
        f->show();
        const std::uint32_t last = std::uint32_t(points.back().pressure);
        EXPECT_TRUE(tablettest::WaitUntil([&] { return f->Tablet()->FPressure == last; }));
        tablettest::WaitUntil([] { return false; }, 50);
        return f;
    }

    QRect panel;
    std::optional<ScopedEnv> driver;
    std::optional<ScopedEnv> pen;
};

TEST_F(ConfigFormTabletTest, PeakPressureInsideThePanelOnTheTabletPage) {
    const QPoint inside = panel.center();
    const QPoint outside = panel.topLeft() - QPoint(3, 3);
    const std::vector<PenPoint> points = {
        {inside, 300},
        {outside, 1500},
        {inside, 700},
        {panel.topLeft(), 650},
        {panel.bottomRight(), 680},
        {inside, 500},
        {QPoint(panel.right() + 3, inside.y()), 2000},
        {QPoint(inside.x(), panel.bottom() + 3), 1},
    };
    const struct {
        const char* page;
        bool onTabletPage;
        const char* current;
        const char* stored;
    } cases[] = {
        {"Tablet", true, "Current : 700", "700"},
        {"Directory", false, "Current : 0", "0"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.page);
        std::filesystem::remove(hivePath);
        auto f = OpenWithPen(points, [&](TConfigForm& f) {
            EXPECT_TRUE(f.tsTablet->isEnabled());
            EXPECT_EQ(f.lbName->text(), "Name : Ostrevin Test Tablet Pen");
            EXPECT_EQ(f.lbMaximum->text(), "Maximum : 2047");
            EXPECT_EQ(f.lbCurrent->text(), "Current : 2047") << "the device's maximum by default";
            f.btnReset->click();
            EXPECT_EQ(f.lbCurrent->text(), "Current : 0");
            if (c.onTabletPage)
                f.PageControl1->setCurrentWidget(f.tsTablet);
        });
        EXPECT_EQ(f->lbCurrent->text(), c.current);
        f->btOK->click();
        EXPECT_EQ(Common("MaxNPressure"), c.stored);
    }
}

TEST_F(ConfigFormTabletTest, StoredPressureAboveTheMaximumOnlyResetLowers) {
    WriteHive(std::string(kCommonKey) + "\"MaxNPressure\"=\"5000\"\n");
    auto f = OpenWithPen({{panel.center(), 2047}, {panel.center(), 1200}},
                         [](TConfigForm& f) { f.PageControl1->setCurrentWidget(f.tsTablet); });
    EXPECT_EQ(f->lbMaximum->text(), "Maximum : 2047");
    EXPECT_EQ(f->lbCurrent->text(), "Current : 5000");
    f->btnReset->click();
    EXPECT_EQ(f->lbCurrent->text(), "Current : 0");
    EXPECT_EQ(f->MaxNPressure(), 0u);
    f->btOK->click();
    EXPECT_EQ(Common("MaxNPressure"), "0");
}
