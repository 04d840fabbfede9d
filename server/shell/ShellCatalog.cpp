// Catalogue loading, the organisation choice and the relay status chip of
// the server main window.
#include "app/context/AppContext.h"
#include "server/shell/CatalogModel.h"
#include "server/shell/CatalogPane.h"
#include "server/shell/ShellWindow.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QTimer>

#include <memory>

using namespace kvr::core;
using namespace kvr::api;
using namespace kvr::context;

namespace kvr::shell {

using namespace ShellRules;

void ShellWindow::loadCatalog()
{
    ++m_catalogLoads;
    m_catalogLoading = true;
    // Until the sites are in, the window says they are on their way.
    m_catalogue->model()->setListing(CatalogModel::Listing::Loading);
    showHome(QStringLiteral("Loading sites…"));
    startBackgroundChecks();
    if (!vmsAllowed()) {
        loadOrgCatalog({});
        return;
    }
    const RequestTicket session = m_sessions.ticket();
    AppContext::instance().api.fetchOrganisations(
        [this, session](const QList<Organisation>& organisations, const QString&) {
            if (!session.current())
                return;
            if (organisations.size() < 2) {
                loadOrgCatalog({});
                return;
            }
            AppContext& ctx = AppContext::instance();
            m_orgChoice->clear();
            for (const Organisation& o : organisations)
                m_orgChoice->addItem(o.name, o.id);
            m_orgChoice->show();
            m_orgLabel->hide();
            loadOrgCatalog(orderOrganisations(organisations, ctx.organisationName()));
        });
}

void ShellWindow::loadOrgCatalog(const QList<Organisation>& organisations)
{
    AppContext& ctx = AppContext::instance();
    if (!organisations.isEmpty()) {
        ctx.orgName = organisations.first().name;
        ctx.orgId = organisations.first().id;
    }
    const QString organisation = ctx.organisationName();
    const int item = m_orgChoice->findText(organisation, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (item >= 0)
        m_orgChoice->setCurrentIndex(item);
    m_orgLabel->setText(organisation);
    ctx.sites.clear();
    m_catalogue->setSites({});
    m_catalogue->model()->setListing(CatalogModel::Listing::Loading);
    m_catalogue->setLoadingText(QString());
    showHome(QStringLiteral("Loading sites…"));
    m_catalogLoading = true;
    m_reloadTries = 0;
    m_siteListRetry = {};

    // This load's counters; a newer load makes the client drop this one's answers.
    struct Progress {
        int sites = 0;
        int completed = 0;
    };
    auto progress = std::make_shared<Progress>();
    const RequestTicket session = m_sessions.ticket();

    ApiClient::CatalogHandlers handlers;
    handlers.sites = [this, session, progress](const QList<Site>& sites) {
        if (!session.current())
            return;
        progress->sites = int(sites.size());
        AppContext::instance().sites = sites;
        m_catalogue->model()->setListing(CatalogModel::Listing::Loaded);
        m_catalogue->setSites(sites);
        m_catalogue->setLoadingText(sites.isEmpty() ? QString() : sitesProgressText(0, progress->sites));
        if (!sites.isEmpty())
            showHome(QString());
    };
    handlers.site = [this, session, progress](int index, const Site& site) {
        if (!session.current())
            return;
        QList<Site>& sites = AppContext::instance().sites;
        if (index >= 0 && index < sites.size())
            sites[index] = site;
        m_catalogue->updateSite(index, site);
        ++progress->completed;
        m_catalogue->setLoadingText(sitesProgressText(progress->completed, progress->sites));
    };
    // A site list that could not be had is asked for again as failed sites
    // are, the organisations still to try with it.
    auto listFailed = std::make_shared<DeviceList>(DeviceList::Read);
    handlers.siteListFailed = [this, session, organisations, listFailed](DeviceList outcome, qint64 retryAfterMs) {
        if (!session.current())
            return;
        *listFailed = outcome;
        m_siteListRetry = {true, retryAfterMs, organisations};
    };
    handlers.done = [this, session, organisations, listFailed](const QString& error) {
        if (!session.current())
            return;
        m_catalogLoading = false;
        m_catalogue->setLoadingText(QString());
        scheduleReload();
        const bool empty = catalogueEmpty(AppContext::instance().sites);
        m_catalogue->model()->setListing(*listFailed == DeviceList::Unreadable ? CatalogModel::Listing::Unreadable
                                             : empty && !error.isEmpty()       ? CatalogModel::Listing::Failed
                                                                               : CatalogModel::Listing::Loaded);
        if (!empty) {
            if (!error.isEmpty())
                showHome(error);
            return;
        }
        if (error.isEmpty() && organisations.size() >= 2) {
            // Nothing here: the next organisation in the order is tried.
            loadOrgCatalog(organisations.mid(1));
            return;
        }
        showHome(error);
    };
    ctx.api.fetchCatalogProgressive(organisation, handlers);
}

void ShellWindow::organisationActivated(int index)
{
    AppContext& ctx = AppContext::instance();
    const QString text = m_orgChoice->itemText(index);
    const QString id = m_orgChoice->itemData(index, Qt::UserRole).toString();
    if (text == ctx.organisationName())
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

void ShellWindow::scheduleReload()
{
    if (m_siteListRetry.due) {
        if (!m_reloadTimer->isActive())
            m_reloadTimer->start(reloadDelay(m_reloadTries, m_siteListRetry.askedMs));
        return;
    }
    if (!anySiteFailed(AppContext::instance().sites)) {
        m_reloadTries = 0;
        return;
    }
    if (!m_reloadTimer->isActive())
        m_reloadTimer->start(reloadDelay(m_reloadTries, AppContext::instance().sites));
}

void ShellWindow::reloadFailedSites()
{
    // A load under way is never taken over (the client keeps one at a time):
    // its end arms the schedule again for what it leaves failed.
    if (m_catalogLoading)
        return;
    if (m_siteListRetry.due) {
        // The whole catalogue again; the tries go on counting until a load
        // has its site list.
        const int tries = m_reloadTries + 1;
        loadOrgCatalog(m_siteListRetry.organisations);
        m_reloadTries = tries;
        return;
    }
    QList<Site>& all = AppContext::instance().sites;
    QList<int> indices;
    QList<Site> failed;
    for (int i = 0; i < all.size(); ++i) {
        if (!all.at(i).devicesFailed())
            continue;
        Site& site = all[i];
        site.deviceList = DeviceList::Read;
        site.loading = true;
        m_catalogue->updateSite(i, site);
        indices << i;
        failed << site;
    }
    if (failed.isEmpty())
        return;
    ++m_reloadTries;
    m_catalogLoading = true;
    const RequestTicket session = m_sessions.ticket();
    ApiClient::CatalogHandlers handlers;
    handlers.site = [this, session, indices](int k, const Site& site) {
        QList<Site>& sites = AppContext::instance().sites;
        const int index = indices.value(k, -1);
        if (!session.current() || index < 0 || index >= sites.size() || sites.at(index).id != site.id)
            return;
        sites[index] = site;
        m_catalogue->updateSite(index, site);
    };
    handlers.done = [this, session](const QString&) {
        if (!session.current())
            return;
        m_catalogLoading = false;
        scheduleReload();
    };
    AppContext::instance().api.reloadSites(failed, handlers);
}

void ShellWindow::refreshStatus()
{
    const RequestTicket session = m_sessions.ticket();
    AppContext::instance().api.fetchSystemStatus([this, session](bool online, int streams, ApiFailure failure) {
        if (session.current())
            applyChip(online, streams, failure);
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

} // namespace kvr::shell
