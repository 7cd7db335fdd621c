function varargout = BrelvaneEigs(varargin)
%BRELVANEEIGS The k lowest (or highest) eigenpairs of a dense symmetric-definite pencil.
%   [V, LAMBDA] = BRELVANEEIGS(P, Q, K)
%   [V, LAMBDA, INFO] = BRELVANEEIGS(P, Q, K, SIGMA, NAME, VALUE, ...)
%   [V, LAMBDA, INFO] = BRELVANEEIGS(P, Q, K, SIGMA, OPTS, NAME, VALUE, ...)
%
%   Solves P*v = lambda*Q*v for the K smallest eigenvalues (SIGMA =
%   'smallestreal' or 'sa', the default) or the K largest ('largestreal' or
%   'la'), with P and Q dense, real and symmetric and Q positive definite.
%   V is N-by-K with V'*Q*V = I (to rounding), LAMBDA K-by-1 in SIGMA's
%   order (ascending for the smallest, descending for the largest), as eigs
%   gives them. Unlike eigs, V comes first and LAMBDA is a vector.
%
%   One call runs Brelvane's greedy coordinate descent on a block of
%   K + max(2, ceil(K/8)) vectors (at most N) at once: every iteration
%   reads one column of P and Q for all of them, and every sweep of N
%   iterations ends with a Rayleigh-Ritz step over the block and the blocks
%   the last three sweeps started from.
%
%   Options, by name and value (any case, char vectors or strings), or as
%   the fields of a struct OPTS (empty fields are ignored):
%     'Tolerance', TOL      stop once every pair's backward error
%                           ||P*v - lambda*Q*v|| / ((||P||_1 + |lambda| ||Q||_1) ||v||)
%                           is <= TOL (default 1e-10; 0 runs all sweeps).
%     'MaxIterations', M    at most M sweeps (default 1000).
%     'StartVectors', V0    an N-by-J warm start, J <= K (a V from an
%                           earlier call, say); the rest start pseudo-randomly.
%     'Threads', T          share each pass among at most T threads
%                           ('automatic', the default, from N = 512 on).
%     'Display', 'iter'     a line a second; 'final' one at the end;
%                           'notify' one when TOL was not met; 'off' (or
%                           'none'), the default, nothing.
%     'Scaling', 'diagonal' weigh the coordinate choice by the diagonal of
%                           Q, for variables in very different units.
%
%   INFO.backwardError  K-by-1, each pair's backward error, formed afresh
%                       from the V returned
%   INFO.sweeps, INFO.iterations  sweeps and coordinate steps run
%   INFO.stop           'tolerance', 'stalled' (the errors stopped falling
%                       above TOL) or 'iterations' (MaxIterations ran out);
%                       the last two also warn Brelvane:notConverged
%   INFO.blockSize      vectors in the block
%   INFO.refreshes      times the products were formed afresh
%   INFO.threads        the most threads a pass ran on
%
%   Errors: Brelvane:notPositiveDefinite when a vector v with v'*Q*v <= 0 is
%   met during the run, and the argument errors of Brelvane (a sparse P is
%   refused: pass full(P)). Where an eigenvalue is repeated across the K-th,
%   any Q-orthonormal vectors from its space are returned. Like every local
%   method, the descent could miss a pair whose eigenvector its start lacks
%   entirely; the guard vectors beyond K guard against one it barely holds.
%
%   The results are the same bit for bit at any thread count and on any
%   CPU. Memory: about 15 N (K + guard) doubles besides P and Q. Meant for K
%   up to a few hundred: each sweep solves a dense eigenproblem of up to
%   4 (K + guard) vectors; for most of the spectrum use EIG.
%
%   Example (ten-class Fisher discriminant: all 9 directions):
%       [W, lambda] = BrelvaneEigs(Sb, Sw, 9, 'largestreal');
%
%   This file calls the Brelvane module as Brelvane('eigenpairs', P, Q, K, ...).
%   See also Brelvane, eigs, eig.

  [varargout{1:max(nargout, 1)}] = Brelvane('eigenpairs', varargin{:});
end

%!test
%! % The three lowest of a random pencil, against eig.
%! randn ("seed", 3);  n = 40;  A = randn (n);  P = (A + A') / 2;
%! G = randn (n);  Q = G * G' / n + eye (n);
%! [V, lambda, info] = BrelvaneEigs (P, Q, 3);
%! e = sort (eig (P, Q));
%! assert (lambda, e(1:3), 1e-9 * max (abs (e)));
%! assert (V' * Q * V, eye (3), 1e-12);
%! assert (info.stop, "tolerance");
%! assert (all (info.backwardError <= 1e-10));
%!test
%! % The largest, in descending order.
%! P = diag (1:6);  Q = eye (6);
%! [V, lambda] = BrelvaneEigs (P, Q, 2, "largestreal");
%! assert (lambda, [6; 5], 1e-12);
%! assert (abs (V(6, 1)), 1, 1e-9);
%!error <k must be a whole number from 1 to n = 3> BrelvaneEigs (eye (3), eye (3), 4)
%!error <Q is not positive definite> BrelvaneEigs (eye (3), diag ([1 1 -1]), 1)
%!error <Unknown option 'Tol'> BrelvaneEigs (eye (3), eye (3), 1, "Tol", 1e-8)

%!demo
%! % Ten-class Fisher discriminant: the 9 directions at once, against eig.
%! randn ("seed", 4);  n = 200;  C = 10;  m = 60;
%! X = [];  y = [];
%! for c = 1:C
%!   X = [X; randn(m, n) + 3 * randn(1, n)];  y = [y; c * ones(m, 1)];
%! end
%! mu = mean (X);  Sw = zeros (n);  Sb = zeros (n);
%! for c = 1:C
%!   Xc = X(y == c, :);  mc = mean (Xc);
%!   Sw += (Xc - mc)' * (Xc - mc);  Sb += m * (mc - mu)' * (mc - mu);
%! end
%! tic;  [W, lambda, info] = BrelvaneEigs (Sb, Sw, 9, "largestreal");  t = toc;
%! e = sort (eig (Sb, Sw), "descend");
%! printf ("BrelvaneEigs: %d sweeps, %.3f s, largest backward error %.1e\n", ...
%!         info.sweeps, t, max (info.backwardError));
%! printf ("largest difference from eig: %.1e (eigenvalues up to %.3g)\n", ...
%!         max (abs (lambda - e(1:9))), e(1));
