// One whole call of the dovex_fit or the dovex_solve module, decided by a
// string of bytes, run through the stand-in host and checked. Shared by the
// libFuzzer target, the replay of the stored inputs and the endurance run.
//
// Input format. Bytes are read in order; reading past the end gives 0, so
// every string, even the empty one, is a call.
//
//   0  nlhs = b % 4; bit 2 set: a dovex_solve call, clear: dovex_fit. Every
//      input stored before dovex_solve had bit 2 clear, so it still means
//      the dovex_fit call it meant.
//   1  nrhs = b % 12 (dovex_fit), b % 13 (dovex_solve)
//   2  ns = b % 9          the sample, feature and class counts that the
//   3  nd = b % 9          arrays of a well-formed call conform to
//   4  nc = b % 5
//   5  ny = nc + b % 3
//   6  seed of rand() before the call
//   then, for each of the nrhs arguments in turn, a kind byte K and the
//   class and shape bytes it asks for; after those, the values of each
//   argument in turn.
//     K bit 0  complex              K bit 2  not double: a class byte follows
//     K bit 1  sparse               K bit 3  own shape: shape bytes follow
//     K bits 4-5  values: 0 one byte each, 1 eight raw bytes each (a double),
//                 2 derived (one-hot Y, E = exp(XW), Z = row sums of E,
//                 otherwise as 0), 3 one byte for all elements
//   class byte: index into single, int32, uint8, logical, char, int64,
//               uint64, int8, int16, uint16, uint32, cell, struct,
//               function_handle
//   shape bytes: a count byte, 2 + b % 3 dimensions, then each dimension:
//               b % 10 below 240, otherwise one of 16 large sizes (up to and
//               past 32 bits; see large_dims in call.cpp)
//   value byte: 0-31 pick from a palette of edge values (zeros of both
//               signs, NaN, infinities, subnormals, the largest and smallest
//               normals, exp's overflow edge, 2^31, 2^53, 1e20, ...), 32-255
//               give (b - 144) / 16. A complex argument's imaginary part
//               follows its real part; an argument of another class takes
//               its raw bytes (a logical one only their lowest bits).
//   a sparse real double argument: for each element in column-major order
//               a pattern byte, 0 leaving the element unstored and any
//               other storing it, followed by its value as above (values
//               1: its eight bytes; 3: the one byte for all comes before
//               the pattern; 2: as 0). Any pattern can come out, stored
//               zeros of either sign included. Any other sparse argument
//               stores nothing.
//
// Without an own shape an argument has the shape a well-formed call needs
// (X ns x nd, Y ns x ny, XW and E ns x nc, Z ns x 1, W0 nd x nc, opts 0 x 0,
// scalars 1 x 1). dovex_solve's arguments are X, Y, W0, XW, E, Z, the four
// scalars and opts, whose place takes an opts byte O instead of K:
//   O % 4 == 0  any array: a kind byte K follows, as for any argument
//   otherwise   a struct, 1 x 2 if O % 4 == 3, else 1 x 1, its fields set in
//               the first element: a count byte, b % 7 fields, each a name
//               byte (b % 6: penalty, weights, display, method, Penalty,
//               verbose; a repeated name is dropped) and a field byte F:
//                 F bit 7   the field left unset (NULL)
//                 F bit 6, for method: a text byte follows, b % 8: 'bound',
//                           'quarter', 'newton', 'Newton', ['bound' 0], '',
//                           'newtons', 'fista'
//                 otherwise F bits 0-5 are a kind byte K, the array's shape
//                           nd x 1 for penalty, ns x 1 for weights, else
//                           1 x 1; its values come in turn with the others',
//                           derived ones valid factors (0, 0.25 ... 4) for
//                           penalty and weights and 0 or 1 for display.
// The sweep limit is kept at 3 or below so that every call is quick.
#ifndef DOVEX_FUZZ_CALL_H
#define DOVEX_FUZZ_CALL_H

#include <cstddef>
#include <cstdint>

// Loads the modules: $DOVEX_MODULE and $DOVEX_SOLVE_MODULE if set, else the
// ones this build made; exits with a message when one cannot be loaded.
void open_modules();

// Runs the call the bytes describe and checks it: the outcome the inputs
// call for (the fit, or the right error raised through the host); W the
// same bits, the same progress text and rand() draws as a direct call of
// the core (dovex_fit) or of the reference with the same options
// (dovex_solve), for a sparse X on full(X); dovex_solve's info as the
// reference recorded the sweeps; the caller's arrays, opts' fields
// included, unchanged byte for byte and no scratch memory or array left
// behind. Any violation is printed and aborts. Returns false, without
// calling, for a call that would be accepted, or would read a sparse X's
// indices, but needs an array too large to allocate here.
bool run_call(const std::uint8_t *data, std::size_t size);

#endif
