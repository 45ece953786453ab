#include "HostedWindow.h"

#include "GlobalsInfo/GlobalsInfo.h"
#include "GlobalsInfo/TraceLog.h"

#include <QCloseEvent>
#include <QQuickItem>

HostedWindow::HostedWindow(const Description &description, QWidget *parent)
    : QQuickWidget(parent)
    , globals(GlobalsInfo::getInstance())
    , description(description)
{
    ZELK_TRACE() << description.title;
    setWindowTitle(description.title);
    setResizeMode(QQuickWidget::SizeRootObjectToView);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    setSource(description.document);
    setWindowFlags(description.flags);

    root = rootObject();
    connectToRoot(SIGNAL(loaded()));
}

HostedWindow::~HostedWindow() = default;

void HostedWindow::openWindow()
{
    showScaled();
}

void HostedWindow::showScaled()
{
    ZELK_TRACE() << description.title;
    scf = globals->getSettingsGuiScale();
    const QSize scaled(int(description.baseSize.width() * scf), int(description.baseSize.height() * scf));
    setMinimumSize(scaled);
    if (!description.resizable)
        setMaximumSize(scaled);
    if (root)
        root->setProperty("scf", scf);
    fillDocument();
    show();
    raise();
    emit loaded();
}

bool HostedWindow::connectToRoot(const char *signal)
{
    return root && connect(this, signal, root, signal);
}

bool HostedWindow::connectFromRoot(const char *rootSignal, const char *slot)
{
    return root && connect(root, rootSignal, this, slot);
}

void HostedWindow::closeEvent(QCloseEvent *event)
{
    emit showParent();
    event->accept();
}
