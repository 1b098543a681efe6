#pragma once

#include <QDialog>
#include <QStringList>

#include <memory>

namespace Ui {
class TConnectBrowser;
}

/// Tools → "Connect your browser…": which browsers' companions are connected, and for each browser
/// installed without one what to do, with the extension's folder to load and a button that
/// copies its path. Writing the host manifests, which let the browsers start Clip Vault's host, is
/// the one step it takes itself.
class TConnectBrowser final : public QDialog
{
    Q_OBJECT
public:
    /// `connected`: the connected companions' browsers, as "name version"; `dataFolder`: the one
    /// the host is to serve.
    TConnectBrowser(const QStringList& connected, const QString& dataFolder,
                    QWidget* parent = nullptr);
    ~TConnectBrowser() override;

    /// What to do for each browser installed here, a line each.
    static QStringList BrowserAdvice();

private:
    void btnConnectClick();
    void btnCopyFolderClick();

    std::unique_ptr<Ui::TConnectBrowser> m_ui;
    QString m_dataFolder;
};
