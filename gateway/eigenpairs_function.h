// The module's second entry: [V, lambda, info] = BrelvaneEigs(P, Q, k, ...),
// which BrelvaneEigs.m passes as Brelvane('eigenpairs', P, Q, k, ...).
#ifndef BRELVANE_GATEWAY_EIGENPAIRS_FUNCTION_H
#define BRELVANE_GATEWAY_EIGENPAIRS_FUNCTION_H

#include "mex_api.h"

namespace brelvane {
namespace gateway {

// The arguments after the word 'eigenpairs'.
void eigenpairsFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]);

}  // namespace gateway
}  // namespace brelvane

#endif
