#include "errorreport.h"

#include <QApplication>
#include <QGuiApplication>
#include <QMessageBox>
#include <QThread>
#include <QWidget>

#include <cstdio>
#include <mutex>

namespace {
std::mutex hookMutex;
zq::ui::ErrorReportHook hook;

bool CanShowBoxes()
{
    auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
    if (!app || QThread::currentThread() != app->thread())
        return false;
    const QString platform = QGuiApplication::platformName();
    return platform != QLatin1String("offscreen") && platform != QLatin1String("minimal");
}

int Report(HWND owner, const zq::ui::ErrorReport& r)
{
    zq::ui::ErrorReportHook h;
    {
        std::lock_guard lock(hookMutex);
        h = hook;
    }
    if (h) {
        h(r);
        return IDOK;
    }
    if (!CanShowBoxes()) {
        std::fprintf(stderr, "%s: %s\n", r.caption.c_str(), r.text.c_str());
        return IDOK;
    }
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    if ((r.flags & 0xF0) == MB_ICONERROR)
        icon = QMessageBox::Critical;
    else if ((r.flags & 0xF0) == MB_ICONWARNING)
        icon = QMessageBox::Warning;
    else if ((r.flags & 0xF0) == MB_ICONINFORMATION)
        icon = QMessageBox::Information;
    QMessageBox box(icon, QString::fromStdString(r.caption), QString::fromStdString(r.text), QMessageBox::Ok,
        static_cast<QWidget*>(owner));
    box.exec();
    return IDOK;
}
} // namespace

zq::ui::ErrorReportHook zq::ui::SetErrorReportHook(ErrorReportHook h)
{
    std::lock_guard lock(hookMutex);
    zq::ui::ErrorReportHook old = std::move(hook);
    hook = std::move(h);
    return old;
}

void zq::ui::ShowApplicationError(const std::string& text)
{
    Report(GetForegroundWindow(), { "Application Error", text, MB_ICONSTOP });
}

int MessageBox(HWND owner, const std::string& text, const std::string& caption, UINT flags)
{
    return Report(owner, { caption, text, flags });
}

HWND GetForegroundWindow()
{
    if (!qobject_cast<QApplication*>(QCoreApplication::instance()))
        return nullptr;
    return QApplication::activeWindow();
}
