// Catalogue loading, the organisation choice and the relay status chip of
// the server main window.
#include "app/context/AppContext.h"
#include "server/shell/CatalogPane.h"
#include "server/shell/ShellWindow.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QTimer>

#include <memory>

using namespace ShellRules;

void ShellWindow::loadCatalog()
{
    ++m_catalogLoads;
    startBackgroundChecks();
    if (!vmsAllowed()) {
        loadOrgCatalog({});
        return;
    }
    QPointer<ShellWindow> self(this);
    const int session = m_session;
    AppContext::instance().api.fetchOrganisations(
        [self, session](const QList<Organisation>& organisations, const QString&) {
            if (!self || session != self->m_session)
                return;
            if (organisations.size() < 2) {
                self->loadOrgCatalog({});
                return;
            }
            AppContext& ctx = AppContext::instance();
            self->m_orgChoice->clear();
            for (const Organisation& o : organisations)
                self->m_orgChoice->addItem(o.name, o.id);
            self->m_orgChoice->show();
            self->m_orgLabel->hide();
            self->loadOrgCatalog(orderOrganisations(organisations, currentOrganisationName(ctx.orgName, ctx.user)));
        });
}

void ShellWindow::loadOrgCatalog(const QList<Organisation>& organisations)
{
    AppContext& ctx = AppContext::instance();
    if (!organisations.isEmpty()) {
        ctx.orgName = organisations.first().name;
        ctx.orgId = organisations.first().id;
    }
    const QString organisation = currentOrganisationName(ctx.orgName, ctx.user);
    const int item = m_orgChoice->findText(organisation, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (item >= 0)
        m_orgChoice->setCurrentIndex(item);
    m_orgLabel->setText(organisation);
    ctx.sites.clear();
    m_catalogue->setSites({});
    m_catalogue->setLoadingText(QStringLiteral("Loading sites…"));

    // This load's counters; a newer load makes the client drop this one's answers.
    struct Progress {
        int sites = 0;
        int completed = 0;
    };
    auto progress = std::make_shared<Progress>();
    QPointer<ShellWindow> self(this);
    const int session = m_session;
    auto current = [self, session] { return self && session == self->m_session; };

    ApiClient::CatalogHandlers handlers;
    handlers.sites = [self, current, progress](const QList<Site>& sites) {
        if (!current())
            return;
        progress->sites = int(sites.size());
        AppContext::instance().sites = sites;
        self->m_catalogue->setSites(sites);
        self->m_catalogue->setLoadingText(sites.isEmpty() ? QString() : sitesProgressText(0, progress->sites));
        if (!sites.isEmpty())
            self->showHome(QString());
    };
    handlers.site = [self, current, progress](int index, const Site& site) {
        if (!current())
            return;
        QList<Site>& sites = AppContext::instance().sites;
        if (index >= 0 && index < sites.size())
            sites[index] = site;
        self->m_catalogue->updateSite(index, site);
        ++progress->completed;
        self->m_catalogue->setLoadingText(sitesProgressText(progress->completed, progress->sites));
    };
    handlers.done = [self, current, organisations](const QString& error) {
        if (!current())
            return;
        self->m_catalogue->setLoadingText(QString());
        const bool empty = catalogueEmpty(AppContext::instance().sites);
        if (!empty) {
            if (!error.isEmpty())
                self->showHome(error);
            return;
        }
        if (error.isEmpty() && organisations.size() >= 2) {
            // Nothing here: the next organisation in the order is tried.
            self->loadOrgCatalog(organisations.mid(1));
            return;
        }
        self->showHome(error);
    };
    ctx.api.fetchCatalogProgressive(organisation, handlers);
}

void ShellWindow::organisationActivated(int index)
{
    AppContext& ctx = AppContext::instance();
    const QString text = m_orgChoice->itemText(index);
    const QString id = m_orgChoice->itemData(index, Qt::UserRole).toString();
    if (text == currentOrganisationName(ctx.orgName, ctx.user))
        return;
    stopEverything(Operation::OrganisationSwitch);
    ctx.orgName = text;
    ctx.orgId = id;
    loadOrgCatalog({});
}

void ShellWindow::startBackgroundChecks()
{
    const UserProfile& user = AppContext::instance().user;
    m_presetsButton->setVisible(ShellRules::canUsePresets(user));
    m_videoWallButton->setVisible(ShellRules::vmsAllowed(user));
    m_wall->setCanSavePreset(canSavePresets(user));
    if (!ShellRules::vmsAllowed(user))
        return;
    if (m_statusTimer->isActive())
        return;
    refreshStatus();
    m_statusTimer->start();
}

void ShellWindow::refreshStatus()
{
    QPointer<ShellWindow> self(this);
    const int session = m_session;
    AppContext::instance().api.fetchSystemStatus([self, session](bool online, int streams, ApiFailure failure) {
        if (self && session == self->m_session)
            self->applyChip(online, streams, failure);
    });
}

void ShellWindow::applyChip(bool online, int streams, ApiFailure failure)
{
    const Chip chip = chipFor(online, streams, failure);
    if (chip.action == Chip::HideAndStop) {
        m_chip->hide();
        m_statusTimer->stop();
        return;
    }
    m_chip->setText(chip.text);
    m_chip->setProperty("state", chip.state);
    m_chip->style()->unpolish(m_chip);
    m_chip->style()->polish(m_chip);
    m_chip->show();
}
