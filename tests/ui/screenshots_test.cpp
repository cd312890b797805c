// Pictures of every page of the window, English and Japanese, written into
// the build tree (screenshots/ of the build folder) for people to look at
// and for the README's few (scripts/refresh-screenshots.sh). Deterministic:
// the virtual modem on its virtual clock, fixed fonts, each page taken when
// the window has handled every line posted before it. Each picture is
// checked: the window's size, text drawn where the heading is, and the
// Japanese page different from the English one.

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QLabel>
#include <QProgressBar>
#include <QTest>

#include <atomic>
#include <future>
#include <set>

#include "../app/application_fixture.h"
#include "app/startup_texts.h"
#include "package/default_config.h"
#include "package/project_table.h"
#include "ui/guide_window.h"
#include "ui/main_window.h"
#include "ui/message_box_window.h"
#include "ui/picture_button.h"
#include "ui/window_fonts.h"

namespace firmora::ui {
namespace {

enum class Language { English, Japanese };

const char* Suffix(Language language) { return language == Language::English ? "en" : "ja"; }

class Screenshots : public app::ApplicationFixture {
protected:
    void SetUp() override {
        ASSERT_TRUE(UseWindowFonts()) << "no Japanese font: install fonts-noto-cjk";
        // The texts without a font of their own, in one font on every machine.
        QFont font("DejaVu Sans");
        font.setPixelSize(12);
        QApplication::setFont(font);
        ASSERT_TRUE(QDir().mkpath(FIRMORA_SCREENSHOT_DIR));
    }

    void TearDown() override {
        window.reset();  // destroys the application first
        app::ApplicationFixture::TearDown();
    }

    // The demo package in `language`, with `from` replaced by `to` in its Config.ini.
    void Open(Language language, const std::string& scenario = "default", const std::string& from = "",
              const std::string& to = "") {
        std::string config(package::DefaultConfigText());
        if (!from.empty()) config = DefaultWith(from, to, config);
        // The Japanese window: a product of the Japanese line, or a package in Japanese.
        if (language == Language::Japanese) {
            config = from.starts_with("Project")
                         ? DefaultWith("LTEType = LTE\r\n", "LTEType = LTE\r\nLanguage = Japanese\r\n", config)
                         : DefaultWith("Project = MDM9x15", "Project = DO78_21", config);
        }
        Carry(config);
        Make(nlohmann::json::object(), scenario);
        ASSERT_TRUE(app->Create());
        window = std::make_unique<MainWindow>(*app);
        window->move(0, 0);
        window->show();
    }

    bool Until(const std::function<bool()>& done) { return QTest::qWaitFor(done, 120'000); }
    bool WaitReady() {
        return Until([this] { return app->LastReadiness() && app->LastReadiness()->ready; });
    }

    // Next as a user presses it, on every page that offers it, until the run starts.
    bool StartRun() {
        for (int press = 0; press < 5 && !app->form().AnySlotOccupied(); ++press) {
            if (!Until([this] { return window->nextButton().isVisible() && window->nextButton().isEnabled(); })) {
                return false;
            }
            // Every decision the readiness loop posted is shown before the
            // press, so that none lands on the run's status.
            window->Drain();
            QTest::mouseClick(&window->nextButton(), Qt::LeftButton);
        }
        return app->form().AnySlotOccupied();
    }

    // The window as drawn now, written as NAME-LANGUAGE.png and checked.
    QImage Shoot(const std::string& name, Language language) {
        window->Render();
        const QImage image = ShootWidget(*window, name, language);
        if (window->heading().isVisible()) {
            EXPECT_GT(DarkPixels(image, window->heading().geometry()), 20) << name << ": no heading drawn";
        }
        return image;
    }

    // Any window as drawn now: its size, not blank.
    static QImage ShootWidget(QWidget& widget, const std::string& name, Language language) {
        // The layouts Qt defers (the memo's scroll bars) done first.
        QCoreApplication::sendPostedEvents();
        const QImage image = widget.grab().toImage();
        const QString file =
            QString("%1/%2-%3.png").arg(FIRMORA_SCREENSHOT_DIR, QString::fromStdString(name), Suffix(language));
        EXPECT_TRUE(image.save(file, "PNG")) << file.toStdString();
        EXPECT_EQ(image.size(), widget.size() * widget.devicePixelRatio()) << name;
        std::set<QRgb> colours;
        for (int y = 0; y < image.height(); y += 3) {
            for (int x = 0; x < image.width(); x += 3) colours.insert(image.pixel(x, y));
        }
        EXPECT_GT(colours.size(), 16u) << name << ": a blank picture";
        return image;
    }

    static int DarkPixels(const QImage& image, QRect area) {
        int dark = 0;
        for (int y = area.top(); y <= area.bottom(); ++y) {
            for (int x = area.left(); x <= area.right(); ++x) {
                if (qGray(image.pixel(x, y)) < 110) ++dark;
            }
        }
        return dark;
    }

    // Shoots one page in both languages; `toPage` brings the window to it.
    // The two pictures differ unless `same` says why they may not.
    void BothLanguages(const std::string& name, const std::function<void(Language)>& toPage, const char* same = nullptr) {
        QImage pictures[2];
        for (Language language : {Language::English, Language::Japanese}) {
            SCOPED_TRACE(Suffix(language));
            toPage(language);
            if (HasFatalFailure()) return;
            pictures[static_cast<int>(language)] = Shoot(name, language);
            window.reset();
            app->Destroy();
            app.reset();
            bundle = testing::MemoryBundle();
        }
        if (same == nullptr) {
            EXPECT_NE(pictures[0], pictures[1]) << name << ": the Japanese page looks like the English one";
        }
    }

    std::unique_ptr<MainWindow> window;
};

TEST_F(Screenshots, NotReadyThenReady) {
    BothLanguages("not-ready", [this](Language language) {
        // A package for another model: the modem is refused, its box says why.
        Open(language, "default", "LTEType = LTE\r\n", "LTEType = LTE\r\nbCheckProjectCode = 1\r\n");
        ASSERT_TRUE(Until([this] { return !dialogs.shown().empty(); }));
        window->Drain();
        EXPECT_EQ(dialogs.shown().back().text, "Could not update other irrelevant model device!");
        EXPECT_FALSE(app->LastReadiness()->ready);
    }, "a refused modem is Not Ready in English in both windows, and the precautions are the same");
    BothLanguages("ready", [this](Language language) {
        Open(language);
        ASSERT_TRUE(WaitReady());
    });
}

TEST_F(Screenshots, RunningThenPassed) {
    for (Language language : {Language::English, Language::Japanese}) {
        SCOPED_TRACE(Suffix(language));
        Open(language);
        ASSERT_TRUE(WaitReady());
        // The worker is held once the images are written, before the data go back.
        std::atomic<bool> held = false;
        std::promise<void> release;
        std::shared_future<void> released = release.get_future().share();
        app->form().onWorkerReport = [&held, released](int, const std::string& text, int) {
            if (text != "Reset or power off command......" || held.exchange(true)) return;
            released.wait();
        };
        ASSERT_TRUE(StartRun());
        ASSERT_TRUE(Until([&] { return held.load(); }));
        window->Drain();  // every line before the held one
        ASSERT_TRUE(app->form().AnySlotOccupied());
        Shoot("running", language);
        release.set_value();
        ASSERT_TRUE(Until([this] { return !app->form().AnySlotOccupied(); }));
        window->Drain();
        EXPECT_EQ(window->heading().text(), "Update Completed");
        Shoot("passed", language);
        window.reset();
        app->Destroy();
        app.reset();
        bundle = testing::MemoryBundle();
    }
}

TEST_F(Screenshots, Failed) {
    BothLanguages("failed", [this](Language language) {
        Open(language, "no-return");
        ASSERT_TRUE(WaitReady());
        ASSERT_TRUE(StartRun());
        ASSERT_TRUE(Until([this] { return !app->form().AnySlotOccupied(); }));
        window->Drain();
        EXPECT_EQ(window->heading().text(), "Update Failure");
    });
}

TEST_F(Screenshots, CompactLayout) {
    BothLanguages("compact", [this](Language language) {
        // The compact product starts its run as its window opens; the page once it has ended.
        Open(language, "default", "Project = MDM9x15", "Project = ZQ65_Custom");
        ASSERT_TRUE(Until([this] { return !app->form().AnySlotOccupied(); }));
        window->Drain();
    }, "the compact product's panels show no text in either language");
}


// The options of a product that shows `wizard`, in `language`.
package::DownloadOptions GuideProduct(platform::GuideWizard wizard, Language language) {
    package::DownloadOptions options;
    options.Caption = "Firmora MDM9x15";
    options.MatchVersion = "MDM9x15.LTE.VQA0012.v2.0.2";
    switch (wizard) {
        case platform::GuideWizard::TFormGuide: options.ProjectIndex = package::kProjectRA66_51; break;
        case platform::GuideWizard::TFormGuide1: options.ProjectIndex = package::kProjectZP200_Italy; break;
        case platform::GuideWizard::TFormGuide2: options.ProjectIndex = package::kProjectRE78_51; break;
        case platform::GuideWizard::TFormGuide3: options.ProjectIndex = package::kProjectZQ65_Custom; break;
    }
    if (language == Language::Japanese) options.Language = 1;
    return options;
}

// Every page of every guide wizard, and the picture box, as they are drawn.
TEST_F(Screenshots, GuideWizardsAndTheMessageBox) {
    using platform::GuideWizard;
    for (Language language : {Language::English, Language::Japanese}) {
        SCOPED_TRACE(Suffix(language));
        for (GuideWizard wizard : {GuideWizard::TFormGuide, GuideWizard::TFormGuide1, GuideWizard::TFormGuide2}) {
            const std::string name = platform::GuideWizardName(wizard);
            PageGuideWindow guide(app::GuideFor(GuideProduct(wizard, language), wizard), dialogs);
            guide.show();
            for (int page = 0; page < 4; ++page) {
                guide.Render();
                ShootWidget(guide, name + "-page" + std::to_string(page + 1), language);
                if (guide.model().pageIndex() == 1) guide.model().AgreementClick(true);
                guide.model().NextClick();
            }
            EXPECT_EQ(guide.model().pageIndex(), 3) << name;
        }
        platform::GuideRequest request = app::GuideFor(GuideProduct(GuideWizard::TFormGuide3, language),
                                                       GuideWizard::TFormGuide3);
        request.devicePresent = [] { return false; };
        SetupGuideWindow setup(request);
        setup.show();
        const std::vector<std::pair<const char*, std::function<void()>>> steps{
            {"welcome", [&] { setup.model().InstallClick(); }},
            {"licence", [&] {
                 setup.model().AgreeClick();
                 setup.model().NextClick();
             }},
            {"steps", [&] { setup.model().StartClick(); }},
            {"device-missing", [] {}}};
        for (const auto& [page, next] : steps) {
            setup.Render();
            ShootWidget(setup, std::string("TFormGuide3-") + page, language);
            next();
        }
        EXPECT_EQ(setup.model().page(), windows::SetupGuide::Page::DeviceMissing);
    }
    // The picture box is Japanese only: one per product that shows it.
    for (int project : {package::kProjectDO78_21, package::kProjectDI79_21}) {
        MessageBoxWindow box(project);
        box.model().Show();
        box.show();
        box.Render();
        ShootWidget(box, "message-box-" + std::to_string(project), Language::Japanese);
    }
}

}  // namespace
}  // namespace firmora::ui
