// dovex_seed.mexa64 through the stand-in host. The host, the module and
// this test share one C runtime, so the test reads the module's srand()
// back with its own rand().
#include "loader.h"
#include "module_test.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::vector<int> draws(int n)
{
    std::vector<int> r;
    for (int k = 0; k < n; k++)
        r.push_back(std::rand());
    return r;
}

std::vector<int> draws_after_srand(unsigned seed)
{
    std::srand(seed);
    return draws(8);
}

inline constexpr char dovex_seed_module[] = DOVEX_SEED_MODULE;

class Seed : public ModuleTest<dovex_seed_module>
{
  protected:
    // A 1x1 array of class cls holding v, written in that class's type.
    mxArray *scalar_of(mxClassID cls, double v)
    {
        const std::size_t dims[2] = {1, 1};
        mxArray *a = own(standin_array(cls, mxREAL, 0, 2, dims, 1));
        void *p = mxGetData(a);
        switch (cls) {
        case mxDOUBLE_CLASS: *static_cast<double *>(p) = v; break;
        case mxSINGLE_CLASS: *static_cast<float *>(p) = static_cast<float>(v); break;
        case mxINT8_CLASS: *static_cast<signed char *>(p) = static_cast<signed char>(v); break;
        case mxUINT32_CLASS: *static_cast<unsigned *>(p) = static_cast<unsigned>(v); break;
        case mxINT64_CLASS: *static_cast<long long *>(p) = static_cast<long long>(v); break;
        case mxUINT64_CLASS:
            *static_cast<unsigned long long *>(p) = static_cast<unsigned long long>(v);
            break;
        default: break;
        }
        return a;
    }

    mxArray *array(mxClassID cls, std::vector<std::size_t> dims, mxComplexity cx = mxREAL,
                   int sparse = 0)
    {
        return own(standin_array(cls, cx, sparse, dims.size(), dims.data(), 1));
    }

    standin_outcome call(int nlhs, std::vector<const mxArray *> in)
    {
        mxArray *plhs[2] = {};
        standin_outcome o{};
        mex_call(module, nlhs, plhs, static_cast<int>(in.size()), in.data(), &o);
        EXPECT_EQ(plhs[0], nullptr) << "dovex_seed returned something";
        EXPECT_STREQ(standin_output(), "");
        EXPECT_EQ(o.callocs, 0u);
        EXPECT_EQ(o.arrays_created, 0u);
        return o;
    }

    // The call must fail with id and message and leave rand() where it was.
    void expect_refused(int nlhs, std::vector<const mxArray *> in, const char *id,
                        const std::string &message)
    {
        SCOPED_TRACE(message);
        std::srand(99);
        const standin_outcome o = call(nlhs, in);
        EXPECT_TRUE(o.failed);
        EXPECT_STREQ(o.id, id);
        EXPECT_EQ(o.message, message);
        const std::vector<int> after = draws(8);
        EXPECT_EQ(after, draws_after_srand(99)) << "a refused call moved rand()";
    }
};

} // namespace

TEST_F(Seed, SeedsTheSharedCRuntimeAsSrandDoes)
{
    const struct {
        mxClassID cls;
        double v;
    } seeds[] = {{mxDOUBLE_CLASS, 12345},      {mxDOUBLE_CLASS, 0},
                 {mxDOUBLE_CLASS, 4294967295}, {mxSINGLE_CLASS, 77},
                 {mxINT8_CLASS, 5},            {mxUINT32_CLASS, 4000000000.0},
                 {mxUINT64_CLASS, 4294967295}, {mxINT64_CLASS, 1}};
    for (const auto &s : seeds) {
        SCOPED_TRACE(s.v);
        const std::vector<int> expected = draws_after_srand(static_cast<unsigned>(s.v));
        std::srand(424242);
        const standin_outcome o = call(0, {scalar_of(s.cls, s.v)});
        EXPECT_FALSE(o.failed) << o.message;
        const std::vector<int> after = draws(8);
        EXPECT_EQ(after, expected);
    }
    // Seeds that differ only above 31 bits still give different sequences.
    const std::vector<int> one = draws_after_srand(1);
    EXPECT_NE(one, draws_after_srand(2147483649u));
}

TEST_F(Seed, RefusesAnythingButAWholeNumberIn32Bits)
{
    const std::string want = "s must be a whole number from 0 to 4294967295; it ";
    const double nan = std::nan("");
    const struct {
        double v;
        const char *is;
    } values[] = {{-1, "is -1."},
                  {1.5, "is 1.5."},
                  {4294967296.0, "is 4294967296."},
                  {-0.25, "is -0.25."},
                  {HUGE_VAL, "is inf."},
                  {nan, "is nan."}};
    for (const auto &v : values)
        expect_refused(0, {scalar_of(mxDOUBLE_CLASS, v.v)}, "dovex_seed:badSeed", want + v.is);
    expect_refused(0, {scalar_of(mxINT64_CLASS, -3)}, "dovex_seed:badSeed", want + "is -3.");
    expect_refused(0, {array(mxDOUBLE_CLASS, {1, 2})}, "dovex_seed:badSeed",
                   want + "has 2 elements.");
    expect_refused(0, {array(mxDOUBLE_CLASS, {0, 0})}, "dovex_seed:badSeed",
                   want + "has 0 elements.");
    expect_refused(0, {array(mxDOUBLE_CLASS, {1, 1}, mxCOMPLEX)}, "dovex_seed:badSeed",
                   want + "is complex.");
    expect_refused(0, {array(mxDOUBLE_CLASS, {1, 1}, mxREAL, 1)}, "dovex_seed:badSeed",
                   want + "is sparse.");
    expect_refused(0, {array(mxCHAR_CLASS, {1, 1})}, "dovex_seed:badSeed",
                   want + "is of class char.");
    expect_refused(0, {array(mxLOGICAL_CLASS, {1, 1})}, "dovex_seed:badSeed",
                   want + "is of class logical.");
}

TEST_F(Seed, TakesOneInputAndGivesNoOutput)
{
    const std::string usage =
        "Usage: dovex_seed(s), with s a whole number from 0 to 4294967295; it returns nothing.";
    const mxArray *s = scalar_of(mxDOUBLE_CLASS, 3);
    expect_refused(0, {}, "dovex_seed:usage", usage);
    expect_refused(0, {s, s}, "dovex_seed:usage", usage);
    expect_refused(1, {s}, "dovex_seed:usage", usage);
}
