// A test suite's fixture for one module: opened through the stand-in
// host's loader once for the suite, with the arrays a test makes through
// own() destroyed after it.
#ifndef DOVEX_TESTS_MEX_MODULE_TEST_H
#define DOVEX_TESTS_MEX_MODULE_TEST_H

#include "loader.h"

#include <gtest/gtest.h>

#include <vector>

template <const char *Path> class ModuleTest : public ::testing::Test
{
  protected:
    inline static mex_module *module = nullptr;

    static void SetUpTestSuite()
    {
        char err[512] = "";
        module = mex_open(Path, err, sizeof err);
        ASSERT_NE(module, nullptr) << err;
    }

    static void TearDownTestSuite()
    {
        mex_close(module);
        module = nullptr;
    }

    void TearDown() override
    {
        for (mxArray *a : owned)
            mxDestroyArray(a);
    }

    mxArray *own(mxArray *a)
    {
        EXPECT_NE(a, nullptr);
        owned.push_back(a);
        return a;
    }

    std::vector<mxArray *> owned;
};

#endif
