#pragma once

#include <QDialog>

#include <memory>

struct SearchRequest;

namespace Ui {
class TFrmSearch;
}

/// The search dialog "Search": a text and the fields to look for it in. It only edits a request;
/// the main window runs the search.
class TFrmSearch final : public QDialog
{
    Q_OBJECT
public:
    explicit TFrmSearch(QWidget* parent = nullptr);
    ~TFrmSearch() override;
    Q_DISABLE_COPY_MOVE(TFrmSearch)

    void loadFrom(const SearchRequest& request);
    void storeInto(SearchRequest& request) const;

private:
    std::unique_ptr<Ui::TFrmSearch> m_ui;
};

/// Shows the dialog on the request; OK writes the text and the fields back, Cancel leaves the
/// request as it was. Always true.
bool ShowSearchDialog(SearchRequest& request, QWidget* parent = nullptr);
