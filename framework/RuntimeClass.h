// Run-time class information: each class that declares it can name itself
// and its base classes while the program runs (GetRuntimeClass, IsKindOf).
// Plain C++ with no platform headers, so it also builds natively.
//
//   class CMyDialog : public CDialog {
//       DECLARE_DYNAMIC(CMyDialog)
//       ...
//   };
//   IMPLEMENT_DYNAMIC(CMyDialog, CDialog)        // in one .cpp
//
// A class declared in a header without a .cpp of its own (the framework's
// classes) uses IMPLEMENT_DYNAMIC_INLINE after its definition instead.
#pragma once

struct CRuntimeClass {
    const char* m_lpszClassName;
    int m_nObjectSize;
    const CRuntimeClass* m_pBaseClass;  // null for the root class

    // True when this class is pBaseClass or derives from it.
    bool IsDerivedFrom(const CRuntimeClass* pBaseClass) const {
        for (const CRuntimeClass* c = this; c != nullptr; c = c->m_pBaseClass) {
            if (c == pBaseClass) return true;
        }
        return false;
    }
};

#define RUNTIME_CLASS(class_name) (&class_name::class##class_name)

#define DECLARE_DYNAMIC(class_name)                                          \
public:                                                                      \
    static const CRuntimeClass class##class_name;                            \
    const CRuntimeClass* GetRuntimeClass() const override;

#define VESTREL_RUNTIME_CLASS_BODY(linkage, class_name, base_class_name)        \
    linkage const CRuntimeClass class_name::class##class_name = {               \
        #class_name, static_cast<int>(sizeof(class_name)),                   \
        RUNTIME_CLASS(base_class_name)};                                     \
    linkage const CRuntimeClass* class_name::GetRuntimeClass() const {          \
        return RUNTIME_CLASS(class_name);                                    \
    }

#define IMPLEMENT_DYNAMIC(class_name, base_class_name) \
    VESTREL_RUNTIME_CLASS_BODY(, class_name, base_class_name)
#define IMPLEMENT_DYNAMIC_INLINE(class_name, base_class_name) \
    VESTREL_RUNTIME_CLASS_BODY(inline, class_name, base_class_name)
