#include "ui/CategoryView.h"

#include "retrieval/MessageFetcher.h"
#include "win/TextCodec.h"

namespace {

const CategoryInfo kCategories[kCategoryCount] = {
    {"Administrativo", RGB(0, 0, 0), CHANGED_ADMINISTRATIVO},
    {"Comercial", RGB(0, 0, 180), CHANGED_COMERCIAL},
    {"Información General", RGB(194, 0, 0), CHANGED_GENERAL},
    {"Operativo", RGB(0, 150, 0), CHANGED_OPERATIVO},
};

constexpr COLORREF kMaskColour = RGB(255, 0, 255);

} // namespace

const CategoryInfo& Category(int index)
{
    return kCategories[index];
}

void ReadCategoryText(const CMessageFiles& files, int index, std::string& text)
{
    switch (index) {
    case CATEGORY_ADMINISTRATIVO: files.GetAdministrativoText(text); break;
    case CATEGORY_COMERCIAL: files.GetComercialText(text); break;
    case CATEGORY_GENERAL: files.GetGeneralText(text); break;
    case CATEGORY_OPERATIVO: files.GetOperativoText(text); break;
    default: text.clear(); break;
    }
}

CCategorySelector::~CCategorySelector()
{
    // The control does not own the list it shows.
    if (m_hImages) ImageList_Destroy(m_hImages);
}

bool CCategorySelector::Create(HWND parent, const RECT& rect, UINT id, UINT bitmapId, int imageSide)
{
    m_hWnd = CreateWindowExW(0, WC_COMBOBOXEXW, nullptr, WS_CHILD | WS_VISIBLE | CBS_DROPDOWNLIST, rect.left, rect.top,
                             rect.right - rect.left, rect.bottom - rect.top, parent,
                             reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
    return m_hWnd && SetImages(bitmapId, imageSide);
}

bool CCategorySelector::SetImages(UINT bitmapId, int imageSide)
{
    const HIMAGELIST images = ImageList_LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(bitmapId), imageSide,
                                                   1, kMaskColour, IMAGE_BITMAP, LR_CREATEDIBSECTION);
    if (!images) return false;
    SendMessageW(m_hWnd, CBEM_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(images));
    if (m_hImages) ImageList_Destroy(m_hImages);
    m_hImages = images;
    return true;
}

bool CCategorySelector::InsertCategory(int index, int image)
{
    std::wstring text = WidenCp1252(kCategories[index].text);
    COMBOBOXEXITEMW item{};
    item.mask = CBEIF_TEXT | CBEIF_IMAGE | CBEIF_SELECTEDIMAGE;
    item.iItem = index;
    item.pszText = text.data();
    item.iImage = image;
    item.iSelectedImage = image;
    return SendMessageW(m_hWnd, CBEM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)) >= 0;
}

void CCategorySelector::DeleteItem(int index)
{
    SendMessageW(m_hWnd, CBEM_DELETEITEM, static_cast<WPARAM>(index), 0);
}

void CCategorySelector::ResetContent()
{
    SendMessageW(m_hWnd, CB_RESETCONTENT, 0, 0);
}

void CCategorySelector::SetCurSel(int index)
{
    SendMessageW(m_hWnd, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

int CCategorySelector::GetCurSel() const
{
    return static_cast<int>(SendMessageW(m_hWnd, CB_GETCURSEL, 0, 0));
}

int CCategorySelector::Count() const
{
    return static_cast<int>(SendMessageW(m_hWnd, CB_GETCOUNT, 0, 0));
}

int CCategorySelector::ItemImage(int index) const
{
    COMBOBOXEXITEMW item{};
    item.mask = CBEIF_IMAGE;
    item.iItem = index;
    if (!SendMessageW(m_hWnd, CBEM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item))) return -1;
    return item.iImage;
}

std::wstring CCategorySelector::ItemText(int index) const
{
    wchar_t text[64] = {};
    COMBOBOXEXITEMW item{};
    item.mask = CBEIF_TEXT;
    item.iItem = index;
    item.pszText = text;
    item.cchTextMax = 64;
    if (!SendMessageW(m_hWnd, CBEM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item))) return {};
    return text;
}
