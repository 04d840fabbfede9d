#pragma once

#include <QString>

#include <memory>
#include <vector>

// What the system knows about one device brand.
class IBrandProvider {
public:
    virtual ~IBrandProvider() = default;
    virtual QString id() const = 0;
    virtual QString displayName() const = 0;
};

// The process-wide registry of brand providers, in order of registration.
class BrandRegistry {
public:
    static BrandRegistry& instance();
    void add(std::unique_ptr<IBrandProvider> provider);
    // The provider for a brand id, or null.
    IBrandProvider* find(const QString& id) const;
    int count() const { return int(providers.size()); }

private:
    BrandRegistry() = default;
    std::vector<std::unique_ptr<IBrandProvider>> providers;
};

// The built-in provider for the catalogue's default brand.
class ImouProvider final : public IBrandProvider {
public:
    ImouProvider() = default;
    QString id() const override { return QStringLiteral("imou"); }
    QString displayName() const override { return QStringLiteral("Imou"); }
};
