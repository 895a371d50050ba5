#include "downloads/mark_of_web.h"

#include <memory>

#include "base/win_handles.h"

namespace {

// Identifies Quillbox to the attachment services, which may remember per-client choices.
constexpr GUID kClientGuid = {0x6f1c2b0e, 0x5a43, 0x4d8e, {0x9b, 0x2f, 0x3c, 0x71, 0xa4, 0x0d, 0x58, 0xe2}};

struct ComRelease {
    void operator()(IUnknown* object) const { object->Release(); }
};

}  // namespace

bool markDownloadedFromInternet(IAttachmentExecute& attachments, const std::wstring& path,
                                const std::wstring& sourceUrl) {
    return SUCCEEDED(attachments.SetClientGuid(kClientGuid)) && SUCCEEDED(attachments.SetLocalPath(path.c_str())) &&
           SUCCEEDED(attachments.SetSource(sourceUrl.c_str())) && SUCCEEDED(attachments.Save());
}

bool markDownloadedFromInternet(const std::wstring& path, const std::wstring& sourceUrl) {
    qb::ComInit com(COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    IAttachmentExecute* raw = nullptr;
    if (FAILED(::CoCreateInstance(CLSID_AttachmentServices, nullptr, CLSCTX_INPROC_SERVER, IID_IAttachmentExecute,
                                  reinterpret_cast<void**>(&raw))) ||
        !raw)
        return false;
    const std::unique_ptr<IAttachmentExecute, ComRelease> attachments(raw);
    return markDownloadedFromInternet(*attachments, path, sourceUrl);
}
