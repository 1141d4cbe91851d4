// The programs as built: each carries a manifest that the platform can parse,
// asking to run as the invoker and naming the Windows versions it supports,
// and a version resource. Without the execution level, Windows takes a 32-bit
// program with "update" in its name for a setup program needing elevation and
// refuses to start it from the main program.
#include <gtest/gtest.h>

#include <windows.h>
#include <msxml2.h>

#include <algorithm>
#include <cwchar>
#include <string>
#include <vector>

namespace {

struct Shipped {
    const char* name;
    const wchar_t* path;
    const wchar_t* fileName;
};
const Shipped kPrograms[] = {{"Vestrel", VESTREL_EXE, L"vestrel.exe"},
                             {"Updater", UPDATER_EXE, L"korvaneupdate.exe"},
                             {"Cli", CLI_EXE, L"vestrel-cli.exe"}};

// Every program names Windows 7 to 11, the versions it is built for; Vista
// may be named as well.
const wchar_t kVista[] = L"{e2011457-1546-43c5-a5fe-008deee3d3f0}";
const wchar_t* const kSupportedOs[] = {
    L"{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",  // 7
    L"{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",  // 8
    L"{1f676c76-80e1-4239-95bb-83d0f6d0da78}",  // 8.1
    L"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",  // 10 and 11
};

std::string ManifestBytes(const wchar_t* path) {
    HMODULE module = ::LoadLibraryExW(path, nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    EXPECT_NE(module, nullptr) << "cannot load " << ::GetLastError();
    if (module == nullptr) return std::string();
    std::string bytes;
    // Id 1 is the manifest the loader reads for a program.
    HRSRC res = ::FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
    if (res != nullptr) {
        HGLOBAL data = ::LoadResource(module, res);
        const void* p = data != nullptr ? ::LockResource(data) : nullptr;
        if (p != nullptr) bytes.assign(static_cast<const char*>(p), ::SizeofResource(module, res));
    }
    ::FreeLibrary(module);
    return bytes;
}

class ComScope {
public:
    ComScope() : m_hr(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
    ~ComScope() {
        if (SUCCEEDED(m_hr)) ::CoUninitialize();
    }

private:
    HRESULT m_hr;
};

// The manifest as the platform's XML parser reads it, or null when it is not
// well-formed (the program would then not start at all).
IXMLDOMDocument* Parse(const std::string& bytes) {
    CLSID clsid;
    if (FAILED(::CLSIDFromProgID(L"Msxml2.DOMDocument.3.0", &clsid))) return nullptr;
    IXMLDOMDocument* doc = nullptr;
    if (FAILED(::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IXMLDOMDocument,
                                  reinterpret_cast<void**>(&doc)))) {
        return nullptr;
    }
    doc->put_async(VARIANT_FALSE);
    // Loaded from the raw bytes, so the declared UTF-8 encoding is what counts.
    SAFEARRAY* array = ::SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size()));
    void* raw = nullptr;
    ::SafeArrayAccessData(array, &raw);
    memcpy(raw, bytes.data(), bytes.size());
    ::SafeArrayUnaccessData(array);
    VARIANT source;
    ::VariantInit(&source);
    source.vt = VT_ARRAY | VT_UI1;
    source.parray = array;
    VARIANT_BOOL ok = VARIANT_FALSE;
    HRESULT hr = doc->load(source, &ok);
    ::VariantClear(&source);
    if (hr != S_OK || ok != VARIANT_TRUE) {
        doc->Release();
        return nullptr;
    }
    return doc;
}

// The values of one attribute on every element of that (unprefixed) name.
std::vector<std::wstring> Attributes(IXMLDOMDocument* doc, const wchar_t* element, const wchar_t* attribute) {
    std::vector<std::wstring> values;
    IXMLDOMNodeList* list = nullptr;
    BSTR name = ::SysAllocString(element);
    HRESULT hr = doc->getElementsByTagName(name, &list);
    ::SysFreeString(name);
    if (FAILED(hr) || list == nullptr) return values;
    BSTR attr = ::SysAllocString(attribute);
    IXMLDOMNode* node = nullptr;
    while (list->nextNode(&node) == S_OK && node != nullptr) {
        IXMLDOMElement* e = nullptr;
        if (SUCCEEDED(node->QueryInterface(IID_IXMLDOMElement, reinterpret_cast<void**>(&e)))) {
            VARIANT v;
            ::VariantInit(&v);
            if (e->getAttribute(attr, &v) == S_OK && v.vt == VT_BSTR) values.emplace_back(v.bstrVal);
            ::VariantClear(&v);
            e->Release();
        }
        node->Release();
    }
    ::SysFreeString(attr);
    list->Release();
    return values;
}

// A value of the string table that the translation list names first, which
// is the one Explorer's Properties page shows.
std::wstring VersionString(const std::vector<BYTE>& info, const wchar_t* name) {
    WORD* translation = nullptr;
    UINT bytes = 0;
    if (!::VerQueryValueW(info.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation), &bytes) ||
        translation == nullptr || bytes < 2 * sizeof(WORD)) {
        return L"";
    }
    wchar_t table[64];
    swprintf(table, 64, L"\\StringFileInfo\\%04x%04x\\", translation[0], translation[1]);
    void* value = nullptr;
    UINT chars = 0;
    std::wstring key = std::wstring(table) + name;
    if (!::VerQueryValueW(info.data(), key.c_str(), &value, &chars) || value == nullptr) return L"";
    return std::wstring(static_cast<const wchar_t*>(value));
}

class ShippedProgram : public ::testing::TestWithParam<Shipped> {};

}  // namespace

TEST_P(ShippedProgram, ManifestRunsAsInvokerOnEverySupportedWindows) {
    ComScope com;
    const std::string bytes = ManifestBytes(GetParam().path);
    ASSERT_FALSE(bytes.empty()) << "no RT_MANIFEST 1";
    IXMLDOMDocument* doc = Parse(bytes);
    ASSERT_NE(doc, nullptr) << "manifest is not well-formed:\n" << bytes;
    EXPECT_EQ(Attributes(doc, L"requestedExecutionLevel", L"level"), std::vector<std::wstring>{L"asInvoker"});
    EXPECT_EQ(Attributes(doc, L"requestedExecutionLevel", L"uiAccess"), std::vector<std::wstring>{L"false"});
    std::vector<std::wstring> os = Attributes(doc, L"supportedOS", L"Id");
    os.erase(std::remove(os.begin(), os.end(), std::wstring(kVista)), os.end());
    std::sort(os.begin(), os.end());
    std::vector<std::wstring> expected(std::begin(kSupportedOs), std::end(kSupportedOs));
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(os, expected);
    doc->Release();
}

TEST_P(ShippedProgram, VersionResourceNamesTheProductAndTheMaker) {
    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeW(GetParam().path, &ignored);
    ASSERT_GT(size, 0u);
    std::vector<BYTE> info(size);
    ASSERT_TRUE(::GetFileVersionInfoW(GetParam().path, 0, size, info.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT len = 0;
    ASSERT_TRUE(::VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &len));
    ASSERT_NE(fixed, nullptr);
    // The project's version (CMakeLists.txt), as major.minor.0.0.
    EXPECT_EQ(fixed->dwFileVersionMS, MAKELONG(VESTREL_VERSION_MINOR, VESTREL_VERSION_MAJOR));
    EXPECT_EQ(fixed->dwFileVersionLS, 0u);
    EXPECT_EQ(fixed->dwProductVersionMS, MAKELONG(VESTREL_VERSION_MINOR, VESTREL_VERSION_MAJOR));
    EXPECT_EQ(fixed->dwProductVersionLS, 0u);
    EXPECT_EQ(VersionString(info, L"ProductName"), L"Vestrel");
    EXPECT_EQ(VersionString(info, L"ProductVersion"), VESTREL_VERSION);
    EXPECT_EQ(VersionString(info, L"FileVersion"), VESTREL_VERSION L".0.0");
    EXPECT_EQ(VersionString(info, L"CompanyName"), L"Korvane");
    EXPECT_EQ(VersionString(info, L"OriginalFilename"), GetParam().fileName);
    EXPECT_FALSE(VersionString(info, L"FileDescription").empty());
}

INSTANTIATE_TEST_SUITE_P(Programs, ShippedProgram, ::testing::ValuesIn(kPrograms),
                         [](const ::testing::TestParamInfo<Shipped>& info) { return std::string(info.param.name); });

// A manifest that the parser refuses, or that lacks the level, is told apart:
// the checks above could not pass on a broken one.
TEST(ManifestCheck, RefusesMalformedAndLevelLessManifests) {
    ComScope com;
    EXPECT_EQ(Parse("<assembly><trustInfo></assembly>"), nullptr);
    IXMLDOMDocument* doc = Parse("<?xml version=\"1.0\" encoding=\"UTF-8\"?><assembly "
                                 "xmlns=\"urn:schemas-microsoft-com:asm.v1\"><description>x</description></assembly>");
    ASSERT_NE(doc, nullptr);
    EXPECT_TRUE(Attributes(doc, L"requestedExecutionLevel", L"level").empty());
    doc->Release();
}
