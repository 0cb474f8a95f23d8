// The in-process COM server described in fakeimapi2.h.
#include "fakeimapi2.h"

#include "platform/windows/imapi2.h"

#include <atomic>
#include <new>
#include <string>
#include <windows.h>

#include <oleauto.h>

namespace {

using namespace vek::platform::win::imapi2;

std::atomic<long> writerCount { 0 };
std::atomic<long> liveObjects { 0 };
std::atomic<long> serverLocks { 0 };

const std::wstring kFirstWriter = L"\\\\?\\fake#writer#0";
const std::wstring kReadOnly = L"fake-read-only";
const std::wstring kBroken = L"fake-broken";
const std::wstring kSilent = L"fake-silent";

std::wstring WriterId(LONG index)
{
    switch (index) {
    case 0:
        return kFirstWriter;
    case 1:
        return L"";
    case 2:
        return kReadOnly;
    case 3:
        return kBroken;
    case 4:
        return kSilent;
    default:
        return L"fake-writer-" + std::to_wstring(index);
    }
}

HRESULT ReturnString(const std::wstring &text, BSTR *value)
{
    *value = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return *value != nullptr ? S_OK : E_OUTOFMEMORY;
}

// Reference counting, IUnknown and the late-bound IDispatch members that
// early-bound callers never use.
template <typename Interface> class Object : public Interface {
public:
    explicit Object(const IID &interfaceId)
        : interfaceId_(interfaceId)
    {
        ++liveObjects;
    }
    virtual ~Object() { --liveObjects; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void **out) override
    {
        if (out == nullptr)
            return E_POINTER;
        if (IsEqualIID(id, IID_IUnknown) || IsEqualIID(id, IID_IDispatch)
            || IsEqualIID(id, interfaceId_)) {
            *out = static_cast<Interface *>(this);
            this->AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const ULONG left = --references_;
        if (left == 0)
            delete this;
        return left;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT *count) override
    {
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR *, UINT, LCID, DISPID *) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Invoke(
        DISPID, REFIID, LCID, WORD, DISPPARAMS *, VARIANT *, EXCEPINFO *, UINT *) override
    {
        return E_NOTIMPL;
    }

private:
    const IID interfaceId_;
    std::atomic<ULONG> references_ { 1 };
};

class Master final : public Object<IDiscMaster2> {
public:
    Master()
        : Object(kIidDiscMaster2)
    {
    }

    HRESULT STDMETHODCALLTYPE get__NewEnum(IEnumVARIANT **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_Item(LONG index, BSTR *value) override
    {
        *value = nullptr;
        if (index < 0 || index >= writerCount)
            return E_INVALIDARG;
        if (index == 5)
            return E_FAIL;
        return ReturnString(WriterId(index), value);
    }
    HRESULT STDMETHODCALLTYPE get_Count(LONG *value) override
    {
        *value = writerCount;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_IsSupportedEnvironment(VARIANT_BOOL *value) override
    {
        *value = VARIANT_TRUE;
        return S_OK;
    }
};

class Recorder final : public Object<IDiscRecorder2> {
public:
    Recorder()
        : Object(kIidDiscRecorder2)
    {
    }

    HRESULT STDMETHODCALLTYPE EjectMedia() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CloseTray() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE AcquireExclusiveAccess(VARIANT_BOOL, BSTR) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE ReleaseExclusiveAccess() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE DisableMcn() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE EnableMcn() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE InitializeDiscRecorder(BSTR recorderUniqueId) override
    {
        const std::wstring id(recorderUniqueId, SysStringLen(recorderUniqueId));
        if (!id_.empty() || id.empty() || id == kBroken)
            return E_FAIL;
        id_ = id;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_ActiveDiscRecorder(BSTR *value) override
    {
        *value = nullptr;
        return id_.empty() ? E_UNEXPECTED : ReturnString(id_, value);
    }
    HRESULT STDMETHODCALLTYPE get_VendorId(BSTR *value) override
    {
        *value = nullptr;
        if (id_.empty() || id_ == kSilent)
            return E_FAIL;
        return ReturnString(id_ == kFirstWriter ? L"HL-DT-ST  " : L"V", value);
    }
    HRESULT STDMETHODCALLTYPE get_ProductId(BSTR *value) override
    {
        *value = nullptr;
        if (id_.empty() || id_ == kSilent)
            return E_FAIL;
        return ReturnString(id_ == kFirstWriter ? L"  DVDRAM GH24 " : L"P", value);
    }
    HRESULT STDMETHODCALLTYPE get_ProductRevision(BSTR *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_VolumeName(BSTR *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_VolumePathNames(SAFEARRAY **value) override
    {
        *value = nullptr;
        if (id_.empty() || id_ == kSilent)
            return E_FAIL;
        const bool first = id_ == kFirstWriter;
        SAFEARRAY *array = SafeArrayCreateVector(VT_VARIANT, 0, first ? 3 : 0);
        if (array == nullptr)
            return E_OUTOFMEMORY;
        if (first) {
            VARIANT items[3];
            for (VARIANT &item : items)
                VariantInit(&item);
            items[0].vt = VT_BSTR;
            items[0].bstrVal = SysAllocString(L"D:\\");
            items[1].vt = VT_I4;
            items[1].lVal = 7;
            items[2].vt = VT_BSTR;
            items[2].bstrVal = SysAllocString(L"E:\\media\\");
            for (LONG i = 0; i < 3; ++i) {
                SafeArrayPutElement(array, &i, &items[i]);  // stores a copy
                VariantClear(&items[i]);
            }
        }
        *value = array;
        return S_OK;
    }

private:
    std::wstring id_;
};

class DataFormat final : public Object<IDiscFormat2Data> {
public:
    DataFormat()
        : Object(kIidDiscFormat2Data)
    {
    }

    HRESULT STDMETHODCALLTYPE IsRecorderSupported(
        IDiscRecorder2 *recorder, VARIANT_BOOL *value) override
    {
        if (recorder == nullptr || value == nullptr)
            return E_POINTER;
        BSTR id = nullptr;
        const HRESULT result = recorder->get_ActiveDiscRecorder(&id);
        if (FAILED(result))
            return result;
        *value = kReadOnly == id ? VARIANT_FALSE : VARIANT_TRUE;
        SysFreeString(id);
        return S_OK;
    }
};

class Factory final : public IClassFactory {
public:
    explicit Factory(const CLSID &classId)
        : classId_(classId)
    {
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void **out) override
    {
        if (IsEqualIID(id, IID_IUnknown) || IsEqualIID(id, IID_IClassFactory)) {
            *out = static_cast<IClassFactory *>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const ULONG left = --references_;
        if (left == 0)
            delete this;
        return left;
    }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown *outer, REFIID id, void **out) override
    {
        *out = nullptr;
        if (outer != nullptr)
            return CLASS_E_NOAGGREGATION;
        IUnknown *object = nullptr;
        if (IsEqualCLSID(classId_, kClsidDiscMaster2))
            object = static_cast<IDiscMaster2 *>(new (std::nothrow) Master);
        else if (IsEqualCLSID(classId_, kClsidDiscRecorder2))
            object = static_cast<IDiscRecorder2 *>(new (std::nothrow) Recorder);
        else
            object = static_cast<IDiscFormat2Data *>(new (std::nothrow) DataFormat);
        if (object == nullptr)
            return E_OUTOFMEMORY;
        const HRESULT result = object->QueryInterface(id, out);
        object->Release();
        return result;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override
    {
        serverLocks += lock ? 1 : -1;
        return S_OK;
    }

private:
    const CLSID classId_;
    std::atomic<ULONG> references_ { 1 };
};

}  // namespace

extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE
    DllGetClassObject(REFCLSID classId, REFIID id, void **out)
{
    *out = nullptr;
    if (!IsEqualCLSID(classId, kClsidDiscMaster2) && !IsEqualCLSID(classId, kClsidDiscRecorder2)
        && !IsEqualCLSID(classId, kClsidDiscFormat2Data))
        return CLASS_E_CLASSNOTAVAILABLE;
    auto *factory = new (std::nothrow) Factory(classId);
    if (factory == nullptr)
        return E_OUTOFMEMORY;
    const HRESULT result = factory->QueryInterface(id, out);
    factory->Release();
    return result;
}

extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE DllCanUnloadNow()
{
    return liveObjects == 0 && serverLocks == 0 ? S_OK : S_FALSE;
}

extern "C" __declspec(dllexport) void __cdecl VekFakeImapi2SetCount(long count)
{
    writerCount = count;
}

extern "C" __declspec(dllexport) long __cdecl VekFakeImapi2LiveObjects()
{
    return liveObjects;
}
