#include "DesktopTestSupport.h"

#include "Vexlor.h"
#include "VexlorQtHost.h"
#include "VexlorTesting.h"
#include "frmMain1.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDragEnterEvent>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QMimeData>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <fstream>
#include <memory>

namespace desktoptest {

namespace {
std::string vexlorFolder;
}

void UseVexlorFolder(const std::string& folder) {
    vexlorFolder = folder;
    modVexlor::testhooks::Reset();
    modVexlor::testhooks::SetApplicationFolder(folder);
    modVexlor::testhooks::SetDevelopmentEnvironment(false);
    std::ofstream ini(folder + "/VXCLIENT.INI", std::ios::binary);
    ini << "[preferences]\r\nCircularLog=0\r\n"
           "[log file]\r\nWrite To Disk=1\r\nCapture To Disk=1\r\n"
           "[include]\r\nResources=0\r\nMemory=0\r\nArguments=0\r\nUser=0\r\n";
    ini.close();
    vxqt::InstallQtHost();
}

std::vector<std::string> LogLines() {
    std::vector<std::string> lines;
    std::ifstream in(vexlorFolder + "/error.log", std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

TraceWatch::TraceWatch() : start_(LogLines().size()) {}

std::vector<std::string> TraceWatch::Tree() const {
    std::vector<std::string> calls;
    const auto lines = LogLines();
    for (size_t i = start_; i < lines.size(); ++i) {
        const std::string& l = lines[i];
        size_t arrow = l.find("] ->");
        if (arrow == std::string::npos) arrow = l.find("] <-");
        if (arrow == std::string::npos) continue;
        calls.push_back(l.substr(arrow + 2));
    }
    return calls;
}

std::vector<std::string> TraceWatch::Calls() const {
    std::vector<std::string> calls = Tree();
    for (std::string& c : calls) c.erase(2, c.find_first_not_of('\t', 2) - 2);
    return calls;
}

bool TraceWatch::Saw(const std::string& call) const {
    for (const auto& c : Calls())
        if (c == call) return true;
    return false;
}

bool DropPaths(QWidget* viewport, const std::vector<std::string>& paths) {
    QList<QUrl> urls;
    for (const auto& p : paths) {
        QUrl url;
        url.setScheme("file");
        // Percent-encode the raw bytes, as a file manager does for any name.
        url.setPath(QString::fromLatin1(QByteArray::fromStdString(p).toPercentEncoding("/")), QUrl::TolerantMode);
        urls.append(url);
    }
    return DropUrls(viewport, urls);
}

bool DropUrls(QWidget* viewport, const QList<QUrl>& urls) {
    auto mime = std::make_unique<QMimeData>();
    mime->setUrls(urls);
    const QPointF pos(30, 30);
    QDragEnterEvent enter(pos.toPoint(), Qt::CopyAction, mime.get(), Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &enter);
    if (!enter.isAccepted()) return false;
    QDragMoveEvent move(pos.toPoint(), Qt::CopyAction, mime.get(), Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &move);
    if (!move.isAccepted()) return false;
    QDropEvent drop(pos, Qt::CopyAction, mime.get(), Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &drop);
    return drop.isAccepted();
}

void WhenModal(std::function<void(QWidget*)> answer, int timeoutMs) {
    auto timer = std::make_shared<QElapsedTimer>();
    timer->start();
    auto poll = std::make_shared<std::function<void()>>();
    *poll = [answer, timeoutMs, timer, poll] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal && modal->isVisible()) {
            answer(modal);
            *poll = nullptr;  // break the cycle
            return;
        }
        if (timer->elapsed() > timeoutMs) {
            QTest::qFail("no modal dialog appeared", __FILE__, __LINE__);
            *poll = nullptr;
            return;
        }
        QTimer::singleShot(10, qApp, [poll] {
            if (*poll) (*poll)();
        });
    };
    QTimer::singleShot(10, qApp, [poll] {
        if (*poll) (*poll)();
    });
}

QWidget* TopLevel(const char* objectName) {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->objectName() == objectName && w->isVisible()) return w;
    return nullptr;
}

QString MessageText(QWidget* box) {
    auto* mb = qobject_cast<QMessageBox*>(box);
    return mb ? mb->text() : QString();
}

void PressOk(QWidget* box) {
    if (auto* mb = qobject_cast<QMessageBox*>(box)) {
        if (QAbstractButton* ok = mb->button(QMessageBox::Ok)) {
            QTest::mouseClick(ok, Qt::LeftButton);
            return;
        }
    }
    QTest::keyClick(box, Qt::Key_Escape);
}

frmMain1* NewMainWindow() {
    auto* w = new frmMain1;
    w->setAttribute(Qt::WA_DeleteOnClose, false);
    w->show();
    w->activateWindow();
    if (!QTest::qWaitForWindowActive(w)) QTest::qFail("main window not active", __FILE__, __LINE__);
    return w;
}

}  // namespace desktoptest

namespace desktoptest {

void AnswerInTurn(std::vector<std::function<void(QWidget*)>> steps, int timeoutMs) {
    if (steps.empty()) return;
    auto rest = std::make_shared<std::vector<std::function<void(QWidget*)>>>(steps.begin() + 1, steps.end());
    auto first = steps.front();
    WhenModal(
        [first, rest, timeoutMs](QWidget* modal) {
            AnswerInTurn(*rest, timeoutMs);  // armed before this answer lets the run go on
            first(modal);
        },
        timeoutMs);
}

}  // namespace desktoptest
