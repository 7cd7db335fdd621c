% The module against an earlier build of itself, whole calls in one Octave
% process, taken in turn:
%
%   octave-cli --no-gui --norc --no-history --path <folder of Brelvane.mex> \
%     --path <folder of BrelvaneBaseline.mex> --path bench bench/octave_against_baseline.m
%
% BrelvaneBaseline.mex is the earlier build's Brelvane.mex under that name
% (Octave names a MEX function by its file; bench/README.md says how to make
% it). Octave's BLAS threads are left as they are unless the environment
% sets them.
% 1. The plain call, x = Brelvane(...) and [x, r] = Brelvane(...), for 10^4
%    iterations at n = 64 and 10*n at n = 1000 and 4000: the same bits, and
%    the time (median of 11).
% 2. The recommended call, 'Acceleration', 'ritz', 'Tolerance', 1e-6, on the
%    pencils of octave_eig_comparison.m and a finite-element pencil: time
%    (median of 5), sweeps, the relative gap to min(eig(P, Q)).
1;

function t = timed (call)
  tic ();  call ();  t = toc ();
end

addpath (fullfile (fileparts (mfilename ("fullpath")), "..", "tests", "gateway"));  % fem_pencil
threads = getenv ("OPENBLAS_NUM_THREADS");
if (isempty (threads))
  threads = "unset (Octave's default)";
end
printf ("OPENBLAS_NUM_THREADS %s; ratio: this build's time over the baseline's\n\n", threads);

%% 1. The plain call
printf ("%6s %9s %-8s %12s %12s %7s %s\n", "n", "iterations", "outputs", "baseline ms", "this ms", ...
        "ratio", "same bits");
for sizes = [64 1e4; 1000 1e4; 4000 4e4]'
  [n, count] = deal (sizes(1), sizes(2));
  randn ("seed", n);
  A = randn (n);  P = (A + A') / 2;  G = randn (n);  Q = G * G' / n + eye (n);
  c = randn (n, 1);  d = randn (n, 1) / n;  x0 = ones (n, 1);
  args = {x0, P, c, 0.25, Q, d, 1, n, count};
  for outputs = [1 2]
    t = zeros (11, 2);
    for run = 1:11
      if (outputs == 1)
        t(run, :) = [timed(@() BrelvaneBaseline (args{:})), timed(@() Brelvane (args{:}))];
      else
        t(run, :) = [timed(@() nthargout (1:2, @BrelvaneBaseline, args{:})), ...
                     timed(@() nthargout (1:2, @Brelvane, args{:}))];
      end
    end
    [xb, rb] = BrelvaneBaseline (args{:});  [x, r] = Brelvane (args{:});
    same = isequal (typecast (x, "uint64"), typecast (xb, "uint64")) && ...
           isequal (typecast (r, "uint64"), typecast (rb, "uint64"));
    m = 1000 * median (t);
    printf ("%6d %9d %-8s %12.3f %12.3f %7.3f %d\n", n, count, {"x", "[x, r]"}{outputs}, m, ...
            m(2) / m(1), same);
  end
end

%% 2. The recommended call
printf ("\n%-20s %5s %12s %12s %7s %14s %14s\n", "problem", "n", "baseline ms", "this ms", "ratio", ...
        "sweeps b/this", "gap b/this");
pencils = {fisher_problem(1000, 1), fisher_problem(2000, 2), fisher_problem(3000, 3), ...
           fisher_problem(4000, 4), random_problem(500, 5), random_problem(2000, 6)};
[K, M] = fem_pencil (50);
pencils{end + 1} = struct ("name", "finite elements", "n", rows (K), "P", K, "Q", M);
for i = 1:numel (pencils)
  p = pencils{i};  n = p.n;  z = zeros (n, 1);  lambda = min (eig (p.P, p.Q));
  args = {ones(n, 1), p.P, z, 0, p.Q, z, 0, n, 1e6, "Acceleration", "ritz", "Tolerance", 1e-6};
  t = zeros (5, 2);
  for run = 1:5
    t(run, :) = [timed(@() nthargout (1:3, @BrelvaneBaseline, args{:})), ...
                 timed(@() nthargout (1:3, @Brelvane, args{:}))];
  end
  [xb, ~, ib] = BrelvaneBaseline (args{:});  [x, ~, info] = Brelvane (args{:});
  gap = @(x) ((x' * p.P * x) / (x' * p.Q * x) - lambda) / abs (lambda);
  m = 1000 * median (t);
  printf ("%-20s %5d %12.1f %12.1f %7.3f %6.1f / %5.1f %6.1e / %6.1e\n", p.name, n, m, m(2) / m(1), ...
          ib.iterations / n, info.iterations / n, gap (xb), gap (x));
end
