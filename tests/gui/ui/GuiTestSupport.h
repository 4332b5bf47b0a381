#pragma once
// Helpers of the window tests: a wizard under a recording user interface with its settings
// in a folder of its own, widgets found by object name, modal windows driven by timers.
#include <QApplication>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <cstdlib>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <string>

#include "TestSupport.h"
#include "app/Globals.h"
#include "platform/FileSystem.h"
#include "ui/CopyFrm.h"

namespace gui_test {

// Runs `action` on the next modal window to appear (polled every 10 ms, for up to 10 s).
inline void WhenModal(std::function<void(QWidget*)> action) {
    auto* timer = new QTimer();
    auto deadline = std::make_shared<int>(1000);
    QObject::connect(timer, &QTimer::timeout, [timer, action, deadline] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal && modal->isVisible()) {
            timer->stop();
            timer->deleteLater();
            action(modal);
            // A window the action left open would hang the test: close it and fail.
            QPointer<QWidget> left(modal);
            QTimer::singleShot(5000, [left] {
                if (left && left->isVisible() && QApplication::activeModalWidget() == left) {
                    ADD_FAILURE() << "modal window " << left->objectName().toStdString() << " left open";
                    left->close();
                }
            });
        } else if (--*deadline == 0) {
            timer->stop();
            timer->deleteLater();
            ADD_FAILURE() << "no modal window appeared";
        }
    });
    timer->start(10);
}

// Answers every modal window that appears while it lives (polled every 10 ms).
class ModalResponder {
public:
    explicit ModalResponder(std::function<void(QWidget*)> action) : m_action(std::move(action)) {
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            QWidget* modal = QApplication::activeModalWidget();
            if (modal && modal->isVisible() && !m_busy) {
                m_busy = true;
                m_action(modal);
                m_busy = false;
            }
        });
        m_timer.start(10);
    }

private:
    std::function<void(QWidget*)> m_action;
    QTimer m_timer;
    bool m_busy = false;
};

template <class T>
T* Find(QWidget* root, const char* name) {
    T* widget = root->findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(widget, nullptr) << name;
    return widget;
}

// A wizard whose settings live in a fresh folder and whose notes are recorded.
class WizardTest : public ::testing::Test {
protected:
    void SetUp() override { setenv("TALLOMIR_SETTINGS_DIR", settings.path().c_str(), 1); }
    void TearDown() override {
        form.reset();
        app::MapInfoApp().Release();
        unsetenv("TALLOMIR_SETTINGS_DIR");
    }
    ui::TCopyForm& Open() {
        form = std::make_unique<ui::TCopyForm>();
        return *form;
    }
    template <class T>
    T* W(const char* name) {
        return Find<T>(form.get(), name);
    }
    std::string Ini() const { return settings / "Tallomir.INI"; }
    std::string Mes() const { return settings / "Tallomir.mes"; }
    // The sample project's workspace, when MapInfo can be reached.
    std::string ExampleWorkspace() const { return testing_support::SourceDir() + "/examples/City.WOR"; }
    bool ConnectMapInfo() { return app::MapInfoApp().IsEmpty() ? app::ConnectMapInfo() : true; }

    testing_support::TempDir settings;
    testing_support::ScopedRecordingUI recorder;
    std::unique_ptr<ui::TCopyForm> form;
};

}  // namespace gui_test
