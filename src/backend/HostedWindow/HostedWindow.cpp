#include "HostedWindow.h"

#include "GlobalsInfo/GlobalsInfo.h"
#include "GlobalsInfo/SettingsKeys.h"
#include "GlobalsInfo/TraceLog.h"

#include <QCloseEvent>
#include <QQmlContext>
#include <QQuickItem>
#include <QScreen>

#include <algorithm>
#include <cmath>

namespace {

// Each side truncated to whole pixels.
QSize scaledSize(const QSize &base, double scale)
{
    return QSize(int(base.width() * scale), int(base.height() * scale));
}

} // namespace

HostedWindow::HostedWindow(const Description &description, QWidget *parent)
    : QQuickWidget(parent)
    , globals(GlobalsInfo::getInstance())
    , description(description)
{
    ZELK_TRACE() << description.title;
    setWindowTitle(description.title);
    setResizeMode(QQuickWidget::SizeRootObjectToView);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    // Each window has an engine of its own; its document finds the stored settings' names here.
    rootContext()->setContextProperty(QStringLiteral("settingsKeys"), new SettingsKeys(this));
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
    applyScale(globals->getSettingsGuiScale());
    fillDocument();
    show();
    raise();
    emit loaded();
}

void HostedWindow::applyScale(double chosen)
{
    const QScreen *target = screen();
    const QSize available = target ? target->availableGeometry().size() : QSize();
    scf = fittingScale(description.baseSize, chosen, available);
    const QSize scaled = scaledSize(description.baseSize, scf);
    setMinimumSize(scaled);
    if (!description.resizable)
        setMaximumSize(scaled);
    if (!root)
        return;
    root->setProperty("scf", scf);
    // The view sizes its root only when its own size changes, and not at all when the root's implicit
    // size matched it: such a root would follow the new scale's implicit size and leave a bare strip.
    if (auto *item = qobject_cast<QQuickItem *>(root))
        item->setSize(size());
}

double HostedWindow::fittingScale(const QSize &base, double chosen, const QSize &available)
{
    // A stored scale that is not a number reads as 0, which would make an empty window.
    const double wanted = chosen > 0 ? chosen : 1.0;
    if (available.isEmpty() || base.isEmpty())
        return wanted;
    const QSize wantedSize = scaledSize(base, wanted);
    if (wantedSize.width() <= available.width() && wantedSize.height() <= available.height())
        return wanted;

    // Whole hundredths, as the scale list offers them; never below the smallest step.
    const double limit
        = std::min(double(available.width()) / base.width(), double(available.height()) / base.height());
    int hundredths = int(std::floor(limit * 100 + 1e-9));
    while (hundredths > 1) {
        const QSize size = scaledSize(base, hundredths / 100.0);
        if (size.width() <= available.width() && size.height() <= available.height())
            break;
        --hundredths;
    }
    return std::max(hundredths, 1) / 100.0;
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
