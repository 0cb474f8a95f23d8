#pragma once
// The parts of the disc-recording (IMAPI2) interfaces this backend calls;
// mingw-w64 ships no imapi2.h. Method order follows the published vtables.

#include <windows.h>

#include <oaidl.h>

namespace vek::platform::win::imapi2 {

// {2735412E-7F64-5B0F-8F00-5D77AFBE261E}
inline constexpr CLSID kClsidDiscMaster2 { 0x2735412E, 0x7F64, 0x5B0F,
    { 0x8F, 0x00, 0x5D, 0x77, 0xAF, 0xBE, 0x26, 0x1E } };
// {27354130-7F64-5B0F-8F00-5D77AFBE261E}
inline constexpr IID kIidDiscMaster2 { 0x27354130, 0x7F64, 0x5B0F,
    { 0x8F, 0x00, 0x5D, 0x77, 0xAF, 0xBE, 0x26, 0x1E } };
// {2735412D-7F64-5B0F-8F00-5D77AFBE261E}
inline constexpr CLSID kClsidDiscRecorder2 { 0x2735412D, 0x7F64, 0x5B0F,
    { 0x8F, 0x00, 0x5D, 0x77, 0xAF, 0xBE, 0x26, 0x1E } };
// {27354133-7F64-5B0F-8F00-5D77AFBE261E}
inline constexpr IID kIidDiscRecorder2 { 0x27354133, 0x7F64, 0x5B0F,
    { 0x8F, 0x00, 0x5D, 0x77, 0xAF, 0xBE, 0x26, 0x1E } };
// {2735412A-7F64-5B0F-8F00-5D77AFBE261E}
inline constexpr CLSID kClsidDiscFormat2Data { 0x2735412A, 0x7F64, 0x5B0F,
    { 0x8F, 0x00, 0x5D, 0x77, 0xAF, 0xBE, 0x26, 0x1E } };
// {27354153-9F64-5B0F-8F00-5D77AFBE261E}
inline constexpr IID kIidDiscFormat2Data { 0x27354153, 0x9F64, 0x5B0F,
    { 0x8F, 0x00, 0x5D, 0x77, 0xAF, 0xBE, 0x26, 0x1E } };

struct IDiscMaster2 : public IDispatch {
    virtual HRESULT STDMETHODCALLTYPE get__NewEnum(IEnumVARIANT **value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Item(LONG index, BSTR *value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Count(LONG *value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_IsSupportedEnvironment(VARIANT_BOOL *value) = 0;
};

struct IDiscRecorder2 : public IDispatch {
    virtual HRESULT STDMETHODCALLTYPE EjectMedia() = 0;
    virtual HRESULT STDMETHODCALLTYPE CloseTray() = 0;
    virtual HRESULT STDMETHODCALLTYPE AcquireExclusiveAccess(VARIANT_BOOL force, BSTR client) = 0;
    virtual HRESULT STDMETHODCALLTYPE ReleaseExclusiveAccess() = 0;
    virtual HRESULT STDMETHODCALLTYPE DisableMcn() = 0;
    virtual HRESULT STDMETHODCALLTYPE EnableMcn() = 0;
    virtual HRESULT STDMETHODCALLTYPE InitializeDiscRecorder(BSTR recorderUniqueId) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_ActiveDiscRecorder(BSTR *value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_VendorId(BSTR *value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_ProductId(BSTR *value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_ProductRevision(BSTR *value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_VolumeName(BSTR *value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_VolumePathNames(SAFEARRAY **value) = 0;
    // Later members are not called and so not declared.
};

// IDiscFormat2Data derives from IDiscFormat2, whose first member is the
// only one called here.
struct IDiscFormat2Data : public IDispatch {
    virtual HRESULT STDMETHODCALLTYPE IsRecorderSupported(
        IDiscRecorder2 *recorder, VARIANT_BOOL *value)
        = 0;
};

}  // namespace vek::platform::win::imapi2
