#include "frmsearch.h"

#include "ui_frmsearch.h"

#include "itemfilter.h"

TFrmSearch::TFrmSearch(QWidget* parent)
    : QDialog(parent)
    , m_ui(std::make_unique<Ui::TFrmSearch>())
{
    m_ui->setupUi(this);
    m_ui->edt_for_search->setMaxLength(SearchRequest::kTextCapacity);
}

TFrmSearch::~TFrmSearch() = default;

void TFrmSearch::loadFrom(const SearchRequest& request)
{
    m_ui->chk_search_in_filename->setChecked(request.inFileName);
    m_ui->chk_search_in_url->setChecked(request.inUrl);
    m_ui->chk_search_in_comment->setChecked(request.inComment);
    m_ui->chk_search_inside->setChecked(request.insideMovie);
    m_ui->edt_for_search->setText(request.text);
}

void TFrmSearch::storeInto(SearchRequest& request) const
{
    request.inFileName = m_ui->chk_search_in_filename->isChecked();
    request.inUrl = m_ui->chk_search_in_url->isChecked();
    request.inComment = m_ui->chk_search_in_comment->isChecked();
    request.insideMovie = m_ui->chk_search_inside->isChecked();
    request.text = m_ui->edt_for_search->text().left(SearchRequest::kTextCapacity);
}

bool ShowSearchDialog(SearchRequest& request, QWidget* parent)
{
    TFrmSearch form(parent);
    form.loadFrom(request);
    if (form.exec() == QDialog::Accepted)
        form.storeInto(request);
    return true;
}
