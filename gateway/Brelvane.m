%BRELVANE Greedy coordinate descent on a ratio of two quadratics.
%   X = BRELVANE(X0, P, C, ALPHA, Q, D, BETA, N, ITERATIONS) starts at X0 and
%   runs ITERATIONS steps of coordinate descent on
%
%       R(x) = N(x) / D(x),   N(x) = 1/2 x'*P*x + C'*x + ALPHA,
%                             D(x) = 1/2 x'*Q*x + D'*x + BETA,
%
%   and returns the point reached as an N-by-1 double column.
%
%   [X, R] = BRELVANE(...) also returns the ratio along the way, so that you
%   can see whether ITERATIONS was enough: R(1) = R(X0) and R(t+1) is the
%   ratio after iteration t, a column of max(ITERATIONS, 0) + 1 values taken
%   from the running sums the solver keeps (they agree with a fresh
%   evaluation to their rounding). R(end) is the ratio at the returned X. Asking
%   only for X costs nothing extra. R grows as the iterations run: it costs
%   8 bytes per iteration run, not per iteration allowed (but see
%   'stationary' below), and if memory runs out the call raises
%   Brelvane:outOfMemory and returns nothing. R holds at most 2^31 - 1
%   values, so with R at most 2^31 - 2 iterations run: a larger ITERATIONS
%   acts as 2^31 - 2.
%
%   To get an answer of a given accuracy, the recommended call is
%
%       [X, R, INFO] = BRELVANE(X0, P, C, ALPHA, Q, D, BETA, N, 1e6, ...
%                               'Acceleration', 'ritz', 'Tolerance', 1e-6)
%
%   with ITERATIONS only a cap (see 'Acceleration' and 'Tolerance' below).
%
%   [X, R, INFO] = BRELVANE(...) also says why the call stopped, in a struct:
%     INFO.iterations  iterations computed (for a 'stationary' stop, through
%                      the first one that changed nothing)
%     INFO.stop        'iterations'  every requested iteration ran
%                      'gradient'    max |dR/dx_j| <= GradientTolerance
%                      'tolerance'   the relative residual <= Tolerance
%                      'stalled'     the residual can no longer reach
%                                    Tolerance (see 'Tolerance')
%                      'notFinite'   R was NaN or infinite at a checkpoint
%                                    (with 'Tolerance' or 'Acceleration')
%                      'stationary'  an iteration left x and every running
%                                    sum unchanged bit for bit: all later
%                                    ones would repeat it, so X and R are
%                                    those of the full count (R filled out
%                                    with the repeated value: with R, this
%                                    stop costs 8 bytes per iteration of
%                                    ITERATIONS, whatever ran)
%     INFO.gradient    max |dR/dx_j| at X, as the next step would choose by;
%                      NaN if any dR/dx_j is NaN
%     INFO.ratio       R at X, equal to R(end)
%     INFO.scaling     'none' or 'diagonal', the coordinate choice used
%     INFO.residual    the relative residual at X (see 'Tolerance')
%     INFO.accelerations  Ritz steps taken (see 'Acceleration')
%     INFO.rises       steps that raised R by more than rounding (see below)
%     INFO.threads     threads that shared each iteration (see 'Threads')
%   With 'Acceleration', 'ritz', INFO.gradient, INFO.ratio, INFO.residual and
%   R(end) come from P*X and Q*X formed afresh at the end: they are true of
%   X to their rounding. Without it they come from the running products,
%   like the descent itself.
%   A 'stationary' stop with INFO.gradient far from zero is a stall: the
%   closed-form step rounded to zero away from the line's minimum (numerator
%   and denominator nearly proportional along that coordinate). Restart from
%   a slightly perturbed X, or rescale the variables.
%
%   A step can raise R: where R has no minimum along the chosen coordinate
%   (D constant and N curving downward along it, or D changing sign), the
%   closed-form step goes to the line's maximum or across a pole of R. The
%   step is kept; INFO.rises counts such steps, and the call then warns once
%   with the identifier Brelvane:rise and the count (silence it with
%   warning('off', 'Brelvane:rise')). It means R is unbounded below along that
%   line, or D changes sign on it: X is then not a minimiser. A step counts
%   when R after it exceeds R before it by more than 2^-49 times
%   (sN + |R|*sD)/|D| summed over both points, sN and sD the sums of the
%   magnitudes of the terms N and D are added from, so rounding never counts.
%   Example: BRELVANE([1;1], [1 0;0 -1], [0;0], 0, zeros(2), [0;0], 1, 2, 4)
%   gives R = [0; -0.5; 0; 0; 0] and INFO.rises = 1.
%
%   BRELVANE(..., 'GradientTolerance', TOL) stops before an iteration once
%   the largest |dR/dx_j| is at most TOL and none is NaN (TOL a real, finite,
%   non-negative scalar of any numeric class; the default 0 never stops), so
%   ITERATIONS becomes an upper bound. After such a stop R has
%   INFO.iterations + 1 entries, and X is what the same call without the
%   tolerance gives with ITERATIONS = INFO.iterations. Option names are char
%   vectors, matched ignoring case.
%
%   BRELVANE(..., 'Scaling', 'diagonal') chooses the coordinate by the
%   largest |w_j * dR/dx_j| instead, with weights fixed from the diagonals:
%   q = Q(j,j) if it is positive, finite and normal, else q = |P(j,j)| if
%   that is, and w_j = 2^-floor(e/2) with 2^e <= q < 2^(e+1), so that
%   w_j^2 * q lies in [1, 4); w_j = 1 where neither qualifies. Being powers
%   of two, the weights change no rounding: the result is exactly the plain
%   descent on the variables y = x ./ w (the problem S*P*S, S*c, alpha, S*Q*S,
%   S*d, beta with S = diag(w), from x0 ./ w) mapped back, unless a scaled
%   value overflows or becomes subnormal, and except that a coordinate that
%   ends at exactly zero is 1e-100 in both, not w_j*1e-100 in the mapped-back
%   one. Use it when the variables come in
%   very different units (a badly scaled Q). 'none', the default, is the
%   plain choice. With 'diagonal', GradientTolerance and INFO.gradient use
%   max |w_j * dR/dx_j|, the gradient in y, and INFO.scaling says which
%   choice ran.
%
%   BRELVANE(..., 'Acceleration', 'ritz') makes the descent converge in far
%   fewer iterations when the lowest eigenvalues of the pencil (P, Q) lie
%   close together, the common case. Every max(N, 2) iterations (a sweep, a
%   checkpoint) X moves to the lowest point of R on the span of the point
%   reached and the points the last 7 sweeps started from (a Rayleigh-Ritz
%   step on 8 vectors; with linear terms, on the bordered pencil
%   [P C; C' 2*ALPHA], [Q D; D' 2*BETA] at (x, 1)), provided that point is
%   finite, keeps D on the same side of zero and lowers R by more than its
%   rounding; otherwise the descent goes on from where it was. The step is
%   built from the products the descent keeps, so nothing N-by-N is read
%   while they can be trusted: it costs about as much as a few iterations,
%   and 21*N doubles of memory. Products that may have lost digits (a
%   combination that cancels, a descent that went far and came back: more
%   than 2^20 of their size), and a Ritz point whose R disagrees with its Ritz
%   value, are formed afresh through the BLAS (about half a sweep each), as
%   they are before a tolerance stop and at the end. R then holds, at each
%   checkpoint, the ratio after the Ritz step, and a 'stationary' descent
%   goes on to the next checkpoint, ending only if that changes nothing. The
%   default 'none' is the plain descent, bit for bit.
%
%   BRELVANE(..., 'Tolerance', TOL) stops at the first checkpoint (before
%   the first iteration, then every max(N, 2) iterations, after the Ritz
%   step) where the relative residual of the bordered pencil at (x, 1)
%
%       eta = max(max_j w_j |gN_j - R*gD_j|, w0 |lN - R*lD|) /
%             (max(max_j w_j |gN_j|, w0 |lN|) + |R| * max(max_j w_j |gD_j|, w0 |lD|)),
%       gN = P*x + C,  gD = Q*x + D,  lN = C'*x + 2*ALPHA,  lD = D'*x + 2*BETA,
%
%   is at most TOL, like the tolerance of EIGS; w_j are the weights of
%   'Scaling', 'diagonal' (whatever the choice), w0 the same rule's for
%   2*BETA (or |2*ALPHA|), so eta means the same whatever units the variables
%   are in. eta is 0 exactly where R is stationary, at most 1, unchanged when
%   N or D is multiplied by a constant, and not small far from a stationary
%   point merely because x is large; a NaN never meets the tolerance. With
%   'ritz' the stop is decided on products formed afresh. For Rayleigh
%   quotients the gap R(X) - min R is roughly the square of eta times the
%   spread of the eigenvalues: TOL = 1e-6 left relative gaps near 1e-12 on
%   the problems we measured, 1e-4 near 1e-7. A 'tolerance' stop finds a
%   stationary point of R, not necessarily its minimum (started next to a
%   higher eigenvector, it can end there). eta is formed in floating point
%   and has a floor; when R has not fallen beyond its rounding over the last
%   checkpoints (at least 5, and half as many as before them) and eta is not
%   falling fast enough to reach TOL within as many checkpoints again as the
%   call has run, the call stops 'stalled' and warns (Brelvane:stalled) with
%   the eta reached. When R is NaN or infinite at a checkpoint the call
%   stops 'notFinite' (so does one with 'Acceleration'). TOL is a real,
%   finite, non-negative scalar; the default 0 never stops. After such a
%   stop R has INFO.iterations + 1 entries; without 'ritz', X is what the
%   same call without 'Tolerance' gives with ITERATIONS = INFO.iterations
%   (with it, the products formed afresh go on into the descent).
%
%   BRELVANE(..., 'Threads', T) shares each iteration's pass over the
%   coordinates among T threads (a whole number from 1 to 1024; at most 64
%   threads, and one per 64 coordinates, are used), each over its own
%   contiguous slice of the coordinates. The result is the same bit for bit
%   whatever T. The default, 'automatic', uses one thread below N = 2048,
%   where sharing costs more than it saves, and from there on as many as
%   maxNumCompThreads allows in MATLAB (1 in a parfor worker), or as the
%   processors the process may run on (or OMP_NUM_THREADS) in Octave. The
%   threads exist only during the call; when the system refuses one, the
%   call runs on fewer.
%
%   Ctrl+C stops a running call within a fraction of a second (but not
%   during the two N-by-N products at its start) with the error
%   Brelvane:interrupted, which says how many iterations had run; nothing is
%   returned, and the next call works as usual.
%
%   BRELVANE(..., 'Display', 'iter') prints a header and a line at the
%   start, then a line at most every second while the call runs: iterations
%   done, R, max |dR/dx_j| (weighted under 'Scaling', 'diagonal'), the
%   relative residual when the call has checkpoints ('Tolerance' or
%   'Acceleration'), and seconds since the call began; then one line saying
%   why and where the call stopped, which is all 'final' prints. 'off', the
%   default, prints nothing. Printing changes no result. In MATLAB, drawnow
%   is evaluated after each line so that it shows while the call runs; an
%   error raised there (Ctrl+C during it, say) ends the call with
%   Brelvane:interrupted.
%
%   Arguments
%     X0          starting point: real double array, at least N elements
%     P           numerator matrix: real double, symmetric, N-by-N (or
%                 P(:), a vector of at least N*N elements)
%     C           numerator linear term: real double array, at least N elements
%     ALPHA       numerator constant: real numeric scalar
%     Q           denominator matrix: real double, symmetric, N-by-N (or
%                 Q(:), a vector of at least N*N elements)
%     D           denominator linear term: real double array, at least N elements
%     BETA        denominator constant: real numeric scalar
%     N           dimension: real numeric scalar, truncated toward zero
%     ITERATIONS  number of steps: real numeric scalar, truncated toward zero;
%                 ITERATIONS <= 0 takes no step
%
%   Result
%     X           N-by-1 double column. Every coordinate that is exactly zero
%                 is returned as 1e-100.
%
%   Method
%     Each step picks the coordinate k of largest |dR/dx_k| (greedy
%     Gauss-Southwell choice), moves x_k to the stationary point of R along
%     e_k with the lower ratio (closed form: the line's minimum where R has
%     one along e_k, else possibly its maximum, see INFO.rises), and updates
%     P*x, Q*x and the scalars behind N and D in O(N).
%
%   P and Q are read through their lower triangle at the start and by whole
%   columns in every step, so they must be symmetric: a P or Q whose entries
%   across the diagonal differ by more than 1e-10 of the larger of them (or
%   of sqrt(|A(i,i)*A(j,j)|)), or one stored as a triangle, draws the warning
%   Brelvane:notSymmetric (every pair is looked at when INFO or an option is
%   asked for, about 3*N of them otherwise). Vectors may be rows or
%   columns, and only the first N (or N*N, column-major with leading dimension
%   N) elements of each array are read. A P or Q with more than one row must
%   be N-by-N unless it is a column: a larger matrix is refused, not read by
%   its first N*N elements. NaN and Inf in the data are not refused; they
%   propagate into X. When R(X0) is not finite (D(X0) = 0, as X0 = zeros
%   gives when BETA = 0, or NaN or Inf in the data) the call warns with
%   Brelvane:ratioNotFinite and says why. A warning changes no result.
%
%   Validated before anything is computed: nine inputs, then name-value
%   pairs, and at most three outputs; X0, P, C, Q, D real, full and double;
%   ALPHA, BETA, N, ITERATIONS real numeric scalars; N and ITERATIONS finite;
%   0 <= N < 2^31 after truncation; P and Q N-by-N or vectors; enough
%   elements in each array; known option names ('GradientTolerance',
%   'Tolerance', 'Scaling', 'Acceleration', 'Display', 'Threads') and valid
%   values. Errors carry identifiers of the form Brelvane:<mnemonic>, e.g.
%   Brelvane:tooShort, Brelvane:sizeMismatch, Brelvane:unknownOption,
%   Brelvane:badOption.
%
%   Example
%     P = [2 0; 0 4];  Q = eye(2);
%     [x, r] = Brelvane([1; 1], P, [1; 0], 1, Q, [0; 0], 1, 2, 10)
%     % x = [1 - sqrt(3); 1e-100], r = [2.5; 2; 0.634; 0.634; ...]
%     [x, r, info] = Brelvane([1; 1], P, [1; 0], 1, Q, [0; 0], 1, 2, 1e6, ...
%                             'GradientTolerance', 1e-12)
%     % stops after 2 iterations: info.stop = 'gradient', numel(r) = 3
