// Run-time class information as dialogs and controls declare it.
#include <gtest/gtest.h>

#include <cstring>

#include "RuntimeClass.h"

// Outside an anonymous namespace, as in the program: the class definitions
// are shared between the header and the one .cpp that implements them.
struct CRoot {
    virtual ~CRoot() = default;
    static const CRuntimeClass classCRoot;
    virtual const CRuntimeClass* GetRuntimeClass() const { return &classCRoot; }
};
const CRuntimeClass CRoot::classCRoot = {"CRoot", static_cast<int>(sizeof(CRoot)), nullptr};

struct CMiddle : CRoot {
    DECLARE_DYNAMIC(CMiddle)
    int m_nPadding[3] = {};
};
struct CLeaf : CMiddle {
    DECLARE_DYNAMIC(CLeaf)
};
struct COther : CRoot {
    DECLARE_DYNAMIC(COther)
};

IMPLEMENT_DYNAMIC(CMiddle, CRoot)
IMPLEMENT_DYNAMIC(CLeaf, CMiddle)
IMPLEMENT_DYNAMIC(COther, CRoot)

TEST(RuntimeClass, NamesTheMostDerivedClassThroughABasePointer) {
    CLeaf leaf;
    const CRoot* p = &leaf;
    EXPECT_STREQ(p->GetRuntimeClass()->m_lpszClassName, "CLeaf");
    EXPECT_EQ(p->GetRuntimeClass()->m_nObjectSize, static_cast<int>(sizeof(CLeaf)));
    EXPECT_STREQ(p->GetRuntimeClass()->m_pBaseClass->m_lpszClassName, "CMiddle");
}

TEST(RuntimeClass, DerivationFollowsTheDeclaredChainOnly) {
    const CRuntimeClass* leaf = RUNTIME_CLASS(CLeaf);
    EXPECT_TRUE(leaf->IsDerivedFrom(RUNTIME_CLASS(CLeaf)));
    EXPECT_TRUE(leaf->IsDerivedFrom(RUNTIME_CLASS(CMiddle)));
    EXPECT_TRUE(leaf->IsDerivedFrom(&CRoot::classCRoot));
    EXPECT_FALSE(leaf->IsDerivedFrom(RUNTIME_CLASS(COther)));
    EXPECT_FALSE(RUNTIME_CLASS(CMiddle)->IsDerivedFrom(RUNTIME_CLASS(CLeaf)));
    EXPECT_FALSE(leaf->IsDerivedFrom(nullptr));
}
