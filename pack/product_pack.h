// The product pack: the packed application and its digests as the executable carries them, checked, then
// written to the cache folder and opened as a storage.
#pragma once

#include "base/error_report.h"
#include "pack/itstorage.h"
#include "pack_digest.h"

namespace corvane
{
// The pack's bytes in the mapped image (never copied or freed) and, when the executable carries them,
// the digests it was built with.
struct CProductPack
{
    const BYTE* pbPack = nullptr;
    DWORD cbPack = 0;
    bool fHasDigests = false;
    CPackDigests digests;
};

// A storage, stream or enumerator of the opened pack, let go of before any error box: while any of them is
// held the pack file stays open (a sub-storage holds a file handle of its own), and another start could
// not write it for as long as the box stays up.
template <class TComPtr> class CPackObject : private CReleasedBeforeErrorBox
{
public:
    CPackObject() = default;
    TComPtr& Ptr() { return m_o; }

private:
    void ReleaseBeforeErrorBox() override { m_o = TComPtr(); }

    TComPtr m_o;
};

// Both resources read in place: S_OK; S_FALSE when the executable carries no pack (nothing reported);
// otherwise the failure, reported (digests that do not read back whole count as a damaged pack).
HRESULT LoadProductPack(CProductPack& pack);

// The pack's bytes against the digest it was built with (nothing to compare without digests): S_OK, or
// the damage, reported.
HRESULT CheckProductPack(const CProductPack& pack);

// The pack file made to hold exactly the pack (written when missing, of another size or with other
// bytes, so that a damaged file never reaches the reader), then opened read-only through ITStorage:
// S_OK, or the failure, reported. A folder in use by a running copy gets no new pack file: a box instead.
HRESULT OpenProductPack(const CProductPack& pack, const _bstr_t& bsFolder, bool fInUse,
                        IStoragePtr& oStorage);

// The failure of a pack that is not what it was built with: one box, ERROR_FILE_CORRUPT.
HRESULT ReportDamagedPack(const wchar_t* pszWhy);
} // namespace corvane
