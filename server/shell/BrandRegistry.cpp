#include "server/shell/BrandRegistry.h"

BrandRegistry& BrandRegistry::instance()
{
    // Filled at start-up and read afterwards, on the main thread only.
    static BrandRegistry registry;
    return registry;
}

void BrandRegistry::add(std::unique_ptr<IBrandProvider> provider)
{
    if (provider)
        providers.push_back(std::move(provider));
}

IBrandProvider* BrandRegistry::find(const QString& id) const
{
    for (const auto& p : providers)
        if (p->id() == id)
            return p.get();
    return nullptr;
}
