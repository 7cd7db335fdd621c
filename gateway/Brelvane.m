%BRELVANE Greedy coordinate descent on a ratio of two quadratics.
%   X = BRELVANE(X0, P, C, ALPHA, Q, D, BETA, N, ITERATIONS)
%   [X, R] = BRELVANE(...)
%   [X, R, INFO] = BRELVANE(..., NAME, VALUE, ...)
%   [X, R, INFO] = BRELVANE(..., OPTS, NAME, VALUE, ...)
%
%   Moves X from X0 towards a minimiser of R(x) = N(x) / D(x), with
%   N(x) = 1/2 x'*P*x + C'*x + ALPHA and D(x) = 1/2 x'*Q*x + D'*x + BETA
%   (P, Q symmetric N-by-N), by at most ITERATIONS greedy coordinate steps.
%   R holds R(X0) and R after each iteration; INFO says why and where the
%   call stopped. C or D given as [] means zeros, ALPHA or BETA as [] 0.
%
%   For an answer of a given accuracy (ITERATIONS is then only a cap):
%       [X, R, INFO] = BRELVANE(X0, P, C, ALPHA, Q, D, BETA, N, 1e6, ...
%                               'Acceleration', 'ritz', 'Tolerance', 1e-6)
%
%   Options, by name and value (names and words in any case, as char vectors
%   or strings, so Name=Value works), or as the fields of a struct OPTS
%   (empty fields are ignored, as optimset leaves them; pairs after it win):
%     'Tolerance', TOL         stop once the relative residual is <= TOL.
%     'Acceleration', 'ritz'   a Rayleigh-Ritz step every N iterations.
%     'GradientTolerance', TOL stop once max |dR/dx_j| <= TOL.
%     'Scaling', 'diagonal'    weigh the choice when variables come in very
%                              different units.
%     'Threads', T             share each iteration among at most T threads
%                              ('automatic', the default, from N = 2048 on).
%     'Display', 'iter'        a line a second; 'final' one at the end;
%                              'notify' one when a tolerance was not met;
%                              'off' (or 'none'), the default, nothing.
%   INFO.stop is 'tolerance', 'gradient', 'stalled', 'notFinite',
%   'stationary' or 'iterations'. The README explains each rule with its
%   measurements; the paragraphs below state them.
%
%   Outputs
%     X  N-by-1 column. Every coordinate that is exactly zero is returned as
%        1e-100.
%     R  R(1) = R(X0), R(t+1) the ratio after iteration t, from the running
%        sums the solver keeps; R(end) is R at X. With INFO it ends where the
%        run ended (INFO.iterations + 1 values). Without INFO a 'stationary'
%        stop fills it out to ITERATIONS + 1 values with the repeated ratio.
%        R grows as the run does (8 bytes per iteration run); if memory runs
%        out the call raises Brelvane:outOfMemory. At most 2^31 - 1 values,
%        so with R a larger ITERATIONS acts as 2^31 - 2.
%     INFO.iterations  iterations computed ('stationary': through the first
%                      one that changed nothing)
%     INFO.stop        'tolerance'   the relative residual <= Tolerance
%                      'gradient'    max |dR/dx_j| <= GradientTolerance
%                      'stalled'     the residual can no longer reach
%                                    Tolerance (see 'Tolerance')
%                      'notFinite'   R was NaN or infinite at a checkpoint
%                                    (with 'Tolerance' or 'Acceleration')
%                      'stationary'  an iteration changed nothing, bit for
%                                    bit: every later one would repeat it
%                      'iterations'  the count ran out
%     INFO.gradient    max |dR/dx_j| at X (NaN if any dR/dx_j is NaN)
%     INFO.ratio       R at X, equal to R(end)
%     INFO.scaling     'none' or 'diagonal', the coordinate choice used
%     INFO.residual    the relative residual at X (see 'Tolerance')
%     INFO.accelerations  Ritz steps taken
%     INFO.rises       steps that raised R by more than rounding
%     INFO.threads     the most threads that shared an iteration
%     INFO.sharedIterations  the iterations they shared
%   With 'Acceleration', 'ritz', INFO.gradient, INFO.ratio, INFO.residual
%   and R(end) come from P*X and Q*X formed afresh at the end: they are true
%   of X to their rounding.
%
%   'Tolerance', TOL: at each checkpoint (before the first iteration, then
%   every max(N, 2) iterations) the call stops once the relative residual of
%   the bordered pencil [P C; C' 2*ALPHA], [Q D; D' 2*BETA] at (x, 1),
%       eta = max(max_j w_j |gN_j - R*gD_j|, w0 |lN - R*lD|) /
%             (max(max_j w_j |gN_j|, w0 |lN|) + |R| max(max_j w_j |gD_j|, w0 |lD|)),
%       gN = P*x + C, gD = Q*x + D, lN = C'*x + 2*ALPHA, lD = D'*x + 2*BETA,
%   is at most TOL, like the tolerance of EIGS (w: the weights of 'Scaling',
%   whatever the choice; w0 the same rule's for 2*BETA), so eta means the
%   same in any units and is not small far from a stationary point. For a
%   Rayleigh quotient the gap R(X) - min R is about eta^2 times the spread of
%   the eigenvalues (1e-6 left relative gaps near 1e-12 on the problems we
%   measured). A 'tolerance' stop finds a stationary point, not necessarily
%   the minimum. When R has stopped falling beyond its rounding over the last
%   checkpoints (at least 5, and half as many as before them) and eta is not
%   falling fast enough to reach TOL within as many checkpoints again, the
%   call stops 'stalled' and warns Brelvane:stalled; when R is not finite at
%   a checkpoint it stops 'notFinite'. Without 'ritz', X is what the same
%   call without 'Tolerance' gives with ITERATIONS = INFO.iterations.
%
%   'Acceleration', 'ritz': at each checkpoint X moves to the lowest point
%   of R on the span of the point reached and the points the last 7 sweeps
%   started from (a Rayleigh-Ritz step on 8 vectors, on the bordered pencil),
%   when that point is finite, keeps D's sign and lowers R by more than its
%   rounding. It is built from the products the descent keeps (21*N doubles
%   of memory); products that may have lost digits, and a Ritz point whose R
%   disagrees with its Ritz value, are formed afresh through the BLAS (about
%   half a sweep each), as they are before a tolerance stop and at the end.
%   The default 'none' is the plain descent, bit for bit.
%
%   'GradientTolerance', TOL: stops before an iteration once the largest
%   |dR/dx_j| is at most TOL and none is NaN; X is then what the same call
%   without it gives with ITERATIONS = INFO.iterations.
%
%   'Scaling', 'diagonal': chooses by the largest |w_j * dR/dx_j|, with
%   w_j = 2^-floor(e/2) where 2^e <= q < 2^(e+1), q = Q(j,j) if it is
%   positive, finite and normal, else |P(j,j)| if that is (w_j = 1 where
%   neither is). Being powers of two the weights change no rounding: this is
%   the plain descent on y = x ./ w, mapped back. GradientTolerance and
%   INFO.gradient then measure |w_j * dR/dx_j|.
%
%   'Threads', T (a whole number from 1 to 1024, or 'automatic'): each
%   iteration's pass over the coordinates may be shared among at most T
%   threads, each over its own slice, with the same result bit for bit.
%   'automatic' uses one thread below N = 2048 and from there on up to
%   maxNumCompThreads in MATLAB (1 in a parfor worker), or in Octave up to
%   the processors the process may run on. Any count is at most those
%   processors (fewer where OMP_NUM_THREADS or a container's CPU quota says
%   so), at most 64, and one per 64 coordinates. The threads time
%   themselves against the calling thread alone and the call runs on the
%   faster, trying the other now and then: while the cores are busy (the
%   BLAS's threads spin after each product, another program runs) it runs
%   on one thread.
%
%   'Display': 'iter' prints a header and a line at most every second
%   (iterations, R, max |dR/dx_j|, the residual when the call has
%   checkpoints, seconds), then the final line, which is all 'final' prints;
%   'notify' prints that line only when a tolerance given was not met (stop
%   'iterations', 'stalled' or 'notFinite'). Printing changes no result.
%
%   Warnings, once each after the results are stored (warning('off', ID)
%   silences one): Brelvane:notSymmetric when P or Q differs from its
%   transpose by more than rounding (1e-10 of the larger entry or of
%   sqrt(|A(i,i)*A(j,j)|), or a triangle stored alone: the solver reads the
%   lower triangle at the start and whole columns after, so they
%   must be symmetric); Brelvane:ratioNotFinite when R(X0) is not finite (it says
%   why: D(X0) = 0, as X0 = zeros gives when BETA = 0, or NaN or Inf in the
%   data); Brelvane:stalled; Brelvane:rise when a step raised R by more than
%   rounding (where R has no minimum along a coordinate the closed-form step
%   goes to the line's maximum or across a pole of R: X is then not a
%   minimiser).
%
%   Errors: the arguments are checked before anything is computed, and a
%   failure raises an error with an identifier Brelvane:<mnemonic> that
%   names the argument, what was expected and what was given (e.g.
%   Brelvane:tooShort, Brelvane:sparse, Brelvane:unknownOption,
%   Brelvane:badOption). X0, P, C, Q, D are real, full double arrays of at
%   least N (N*N) elements; P and Q of more than one row must be N-by-N or
%   columns. ALPHA, BETA, N, ITERATIONS are real numeric scalars; N and
%   ITERATIONS are truncated toward zero (0 <= N < 2^31). Ctrl+C stops a
%   running call (not during the two N-by-N products at its start) with
%   Brelvane:interrupted.
%
%   Method: each step picks the coordinate k of largest |dR/dx_k| (greedy
%   Gauss-Southwell choice), moves x_k in closed form to the stationary point
%   of R along e_k with the lower ratio, and updates P*x, Q*x and the sums
%   behind N and D in O(N).
%
%   Example
%     [x, r] = Brelvane([1; 1], [2 0; 0 4], [1; 0], 1, eye(2), [], 1, 2, 10)
%     % x = [1 - sqrt(3); 1e-100], r = [2.5; 2; 0.634; 0.634; ...]
%     opts = struct('GradientTolerance', 1e-12);
%     [x, r, info] = Brelvane([1; 1], [2 0; 0 4], [1; 0], 1, eye(2), [], 1, 2, 1e6, opts)
%     % info.stop = 'gradient' after 2 iterations, numel(r) = 3
%
%   Several eigenpairs: BRELVANE('eigenpairs', P, Q, K, ...) is the call
%   BrelvaneEigs.m makes (the same arguments as BRELVANEEIGS after the
%   word); help BrelvaneEigs describes it.
%
%   See also BRELVANEEIGS, EIGS, EIG, FMINUNC.

%!test
%! % The README's worked example: two steps to the minimum, then stationary.
%! [x, r] = Brelvane ([1; 1], [2 0; 0 4], [1; 0], 1, eye (2), [0; 0], 1, 2, 10);
%! assert (x, [1 - sqrt(3); 1e-100], 4 * eps);
%! assert (r(1:3), [2.5; 2; (3 - sqrt(3)) / 2], 4 * eps);
%! assert (numel (r), 11);
%!test
%! % With info, r ends where the run ended; [] for an absent term.
%! [x, r, info] = Brelvane ([1; 1], [2 0; 0 4], [1; 0], 1, eye (2), [], 1, 2, 1e6, ...
%!                          struct ("GradientTolerance", 1e-12));
%! assert (info.stop, "gradient");
%! assert (info.iterations, 2);
%! assert (numel (r), 3);
%! assert (info.ratio, r(end));
%!test
%! % The recommended call on a Rayleigh quotient reaches the smallest
%! % eigenvalue within the tolerance's square (the BLAS rounds the products).
%! randn ("seed", 1);  n = 60;  A = randn (n);  P = (A + A') / 2;
%! G = randn (n);  Q = G * G' / n + eye (n);
%! [x, r, info] = Brelvane (ones (n, 1), P, [], [], Q, [], [], n, 1e6, ...
%!                          "Acceleration", "ritz", "Tolerance", 1e-6);
%! assert (info.stop, "tolerance");
%! assert (info.residual <= 1e-6);
%! lambda = min (eig (P, Q));
%! assert ((x' * P * x) / (x' * Q * x), lambda, 1e-8 * abs (lambda));
%!error <x0 must have at least n = 2 elements> Brelvane (1, eye (2), [], 0, eye (2), [], 1, 2, 10)
%!error <Unknown option 'TolFun'> Brelvane ([1; 1], eye (2), [], 0, eye (2), [], 1, 2, 10, optimset ("TolFun", 1e-6))
%!warning <not symmetric> Brelvane ([1; 1; 1], triu (magic (3)), [], 0, eye (3), [], 1, 3, 10);

%!demo
%! % Fisher's discriminant direction: maximise w'*Sb*w / w'*Sw*w, i.e.
%! % minimise R with P = -Sb, Q = Sw (two classes of 4-dimensional samples).
%! randn ("seed", 2);  m = 200;  n = 4;
%! a = randn (m, n);  b = randn (m, n) + [2 0 1 0];
%! Sw = (a - mean (a))' * (a - mean (a)) + (b - mean (b))' * (b - mean (b));
%! Sb = (mean (a) - mean (b))' * (mean (a) - mean (b));
%! [w, r] = Brelvane (ones (n, 1), -Sb, [], [], Sw, [], [], n, 200);
%! printf ("direction %s, ratio %.6g, bound %.6g\n", mat2str (w' / norm (w), 4), r(end), ...
%!         min (eig (-Sb, Sw)));
%!demo
%! % The recommended call, and what info says.
%! randn ("seed", 3);  n = 300;  A = randn (n);  P = (A + A') / 2;
%! G = randn (n);  Q = G * G' / n + 0.1 * eye (n);
%! [x, r, info] = Brelvane (ones (n, 1), P, [], [], Q, [], [], n, 1e6, ...
%!                          "Acceleration", "ritz", "Tolerance", 1e-6)
%! printf ("relative gap to min(eig(P, Q)): %.1e\n", (info.ratio - min (eig (P, Q))) / abs (min (eig (P, Q))));
