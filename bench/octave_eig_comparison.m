% Where Brelvane wins and where it loses, against Octave's eigensolvers.
%
%   octave-cli --path <folder of Brelvane.mex> --path bench bench/octave_eig_comparison.m [output folder]
%
% 1. Fisher-type ratios (P = -S_b, Q = S_w, c = d = 0, alpha = beta = 0,
%    x0 = ones), n = 300, 1000, 2000: the time to come within a relative gap
%    of 1e-10 of lambda = min(eig(P, Q)), for every method in the cell array
%    `solvers` below (median of `runs` runs, taken in turn), with the
%    iterations and the gap reached. Writes the plot eig_comparison.png into
%    the output folder (the one command-line argument, else the current
%    folder).
% 2. Random ratios with linear terms, a positive definite bordered denominator
%    and the minimiser far from x0: how often 4000*n iterations still leave a
%    relative gap above 1e-8 to the smallest eigenvalue of the bordered pencil.
1;

% Two classes of `samples` n-dimensional samples each, as in
% examples/fisher_demo.m: x = z*M, with shifted means for the second class.
% The within-class scatter is formed as M'*(Z'*Z)*M from the centred z, which
% is the same matrix as the scatter of the mixed samples and cheaper.
function p = fisher_problem (n, samples, seed)
  rand ("seed", seed);  randn ("seed", seed);
  M = eye (n) + 0.3 * randn (n) / sqrt (n);
  shift = randn (n, 1) / sqrt (n);
  za = randn (samples, n);  ma = mean (za)';  za -= ma';
  zb = randn (samples, n);  mb = mean (zb)';  zb -= mb';
  Z = za' * za + zb' * zb;
  clear za zb;
  Sw = M' * Z * M;
  p.n = n;
  p.Q = (Sw + Sw') / 2;
  p.v = M' * (ma - mb) - shift;          % mean of class a minus mean of class b
  p.P = -(p.v * p.v');
  p.z = zeros (n, 1);
  p.x0 = ones (n, 1);
  p.cap = 100 * n;                       % iteration cap of every Brelvane call
end

function value = fisher_ratio (p, x)
  value = (x' * p.P * x) / (x' * p.Q * x);
end

% Stops once the relative gradient max |dR/dx_j| * norm(x) / |R(x)| is at
% most rtol, a test that does not change when x, P or Q are scaled. The
% module's tolerance is absolute, so the first call runs n iterations to get
% the scale |R(x)| / norm(x), and each further call, from where the last one
% ended, takes its tolerance from the point it starts at, until the test holds
% where a call ends. Extra arguments go to the module as options.
function [value, iterations, x] = brelvane_relative (p, rtol, varargin)
  x = p.x0;  iterations = 0;  tolerance = 0;  count = p.n;
  do
    [x, ~, info] = Brelvane (x, p.P, p.z, 0, p.Q, p.z, 0, p.n, count, ...
                             'GradientTolerance', tolerance, varargin{:});
    iterations += info.iterations;
    tolerance = rtol * abs (info.ratio) / norm (x);
    count = p.cap - iterations;
  until (info.gradient <= tolerance || strcmp (info.stop, "stationary") || count <= 0)
  value = info.ratio;
end

% A fixed count, the one call a user who knew the answer would make.
function [value, iterations, x] = brelvane_count (p, count, varargin)
  [x, ~, info] = Brelvane (p.x0, p.P, p.z, 0, p.Q, p.z, 0, p.n, count, varargin{:});
  value = info.ratio;  iterations = info.iterations;
end

% The fewest iterations after which R(x) is within `target` of lambda, read
% off the trace r of one long call and checked by evaluating R at the point.
% Extra arguments go to the module as options.
function count = fewest_iterations (p, lambda, target, varargin)
  [~, r] = Brelvane (p.x0, p.P, p.z, 0, p.Q, p.z, 0, p.n, p.cap, varargin{:});
  count = find ((r - lambda) / abs (lambda) <= target, 1) - 1;
  if (isempty (count))
    error ("bench:notReached", "n = %d: no gap of %g within %d iterations", p.n, target, p.cap);
  end
  while (true)
    [~, ~, x] = brelvane_count (p, count, varargin{:});
    if ((fisher_ratio (p, x) - lambda) / abs (lambda) <= target)
      break;
    end
    count += 1;
  end
end

function [value, iterations, x] = full_eig (p)
  value = min (eig (p.P, p.Q));  iterations = NaN;  x = [];
end

function [value, iterations, x] = sparse_eigs (p)
  value = eigs (p.P, p.Q, 1, "sa");  iterations = NaN;  x = [];
end

% Only because S_b has rank one: the discriminant direction is Q \ v, and the
% lowest ratio -v' * (Q \ v).
function [value, iterations, x] = rank_one_solve (p)
  value = -(p.v' * (p.Q \ p.v));  iterations = NaN;  x = [];
end

% A ratio of n variables with linear terms whose bordered denominator
% [Q d; d' 2*beta] is positive definite, and whose minimiser lies about
% `distance` * sqrt(n) away from x0 = 0. The bordered pencil (Pb, Qb) is drawn
% first (Pb symmetric Gaussian, Qb = G*G'/(n+1) + 0.1*I with G Gaussian),
% then the variables are shifted by s = distance * randn(n, 1): with
% S = [I -s; 0 1], S'*Pb*S and S'*Qb*S (returned as Ps, Qs) describe R(x - s),
% whose minimiser is the old one plus s, and whose pencil has the same
% eigenvalues. Pb and Qb, better conditioned, give lambda and R(x - s).
function [Ps, Qs, Pb, Qb, s] = far_ratio (n, distance)
  A = randn (n + 1);  Pb = (A + A') / 2;
  G = randn (n + 1);  Qb = G * G' / (n + 1) + 0.1 * eye (n + 1);
  s = distance * randn (n, 1);
  S = [eye(n), -s; zeros(1, n), 1];
  Ps = S' * Pb * S;  Ps = (Ps + Ps') / 2;
  Qs = S' * Qb * S;  Qs = (Qs + Qs') / 2;
end

if ~exist ("output_dir", "var")
  output_dir = ".";
  args = argv ();
  if (numel (args) == 1 && isfolder (args{1}))
    output_dir = args{1};
  end
end

%% 1. Fisher-type ratios against eig and eigs

target = 1e-10;
sizes = [300 1000 2000];
runs = 7;
% name, solve (p) -> [value, iterations, x], plot style ("": table only). The
% gap is taken from R(x) where a method returns x, else from the value.
solvers = {
  "Brelvane, relative tolerance sqrt(1e-10/n)", @(p) brelvane_relative (p, sqrt (target / p.n)), "-o"
  "Brelvane, fewest iterations (known count)",  @(p) brelvane_count (p, p.fewest),                 ""
  "Brelvane, 'Scaling' 'diagonal', fewest",     @(p) brelvane_count (p, p.fewest_scaled, "Scaling", "diagonal"), ""
  "min(eig(P, Q))",                             @full_eig,                                         "-s"
  "eigs(P, Q, 1, 'sa')",                        @sparse_eigs,                                      "-^"
  "solve Q w = v (P of rank one only)",         @rank_one_solve,                                   "-.d"
};
m = rows (solvers);

% Loads the module, LAPACK's and ARPACK's code paths, outside the timings.
warm = fisher_problem (50, 200, 1);
warm.fewest = 10;
warm.fewest_scaled = 10;
for k = 1:m
  solvers{k, 2} (warm);
end

printf ("Time to a relative gap of %.0e to lambda = min(eig(P, Q)), Fisher-type ratios\n", target);
printf ("(5*n samples per class, x0 = ones(n, 1));\n");
threads = getenv ("OPENBLAS_NUM_THREADS");
if (isempty (threads))
  threads = "unset";
end
printf ("median of %d runs, taken in turn; OPENBLAS_NUM_THREADS %s\n", runs, threads);
printf ("%5s  %-44s %10s %11s %9s\n", "n", "method", "time ms", "iterations", "rel. gap");
times = zeros (numel (sizes), m);
for i = 1:numel (sizes)
  n = sizes(i);
  p = fisher_problem (n, 5 * n, n);
  lambda = min (eig (p.P, p.Q));
  p.fewest = fewest_iterations (p, lambda, target);
  p.fewest_scaled = fewest_iterations (p, lambda, target, "Scaling", "diagonal");
  seconds = zeros (runs, m);
  for run = 1:runs
    for k = 1:m
      tic ();  solvers{k, 2} (p);  seconds(run, k) = toc ();
    end
  end
  times(i, :) = median (seconds, 1);
  for k = 1:m
    [value, iterations, x] = solvers{k, 2} (p);
    if (~isempty (x))
      value = fisher_ratio (p, x);
    end
    printf ("%5d  %-44s %10.3g %11s %9.1e\n", n, solvers{k, 1}, 1000 * times(i, k), ...
            num2str (iterations), (value - lambda) / abs (lambda));
  end
end

warning ("off", "Octave:gnuplot-graphics");
graphics_toolkit ("gnuplot");
figure_handle = figure ("visible", "off");
plotted = find (~cellfun (@isempty, solvers(:, 3)))';
hold on;
for k = plotted
  plot (sizes, 1000 * times(:, k), solvers{k, 3}, "linewidth", 1.5);
end
hold off;
set (gca, "xscale", "log", "yscale", "log", "xtick", sizes, ...
     "xticklabel", arrayfun (@num2str, sizes, "uniformoutput", false));
axis ([250 2400 0.5 1e6]);
grid on;
xlabel ("n");
ylabel (sprintf ("time to a relative gap of %.0e, ms", target));
legend (solvers(plotted, 1), "location", "northwest");
title ("Fisher-type ratios, P = -S_b, Q = S_w, from x_0 = (1, ..., 1)");
plot_file = fullfile (output_dir, "eig_comparison.png");
print (figure_handle, plot_file, "-dpng", "-S800,600");
close (figure_handle);
printf ("plot: %s\n\n", plot_file);

%% 2. Ratios with linear terms and a far minimiser

problems = 200;
above = 1e-8;
printf ("%d random ratios with linear terms, n = 2..26, x0 = 0, 4000*n iterations, the same\n", problems);
printf ("pencils shifted by s = distance * randn(n, 1); stalled: stationary with the gap above 1e-8\n");
printf ("gap = (R(x) - lambda) / |lambda|, lambda the smallest eigenvalue of the bordered pencil\n");
printf ("%9s %16s %11s %11s %11s %8s %13s %12s\n", "distance", "gap > 1e-8", "median gap", ...
        "max gap", "stationary", "stalled", "median |x*|", "min |lambda|");
for distance = [1 10 100]
  randn ("state", 1);
  gaps = zeros (problems, 1);  stationary = false (problems, 1);
  far = zeros (problems, 1);  smallest = Inf;
  for k = 1:problems
    n = 2 + mod (k - 1, 25);
    [Ps, Qs, Pb, Qb, s] = far_ratio (n, distance);
    [U, L] = eig (Pb, Qb);
    [lambda, j] = min (diag (L));
    far(k) = norm (U(1:n, j) / U(n + 1, j) + s);
    [x, ~, info] = Brelvane (zeros (n, 1), Ps(1:n, 1:n), Ps(1:n, n + 1), Ps(n + 1, n + 1) / 2, ...
                             Qs(1:n, 1:n), Qs(1:n, n + 1), Qs(n + 1, n + 1) / 2, n, 4000 * n);
    y = [x - s; 1];
    gaps(k) = ((y' * Pb * y) / (y' * Qb * y) - lambda) / abs (lambda);
    stationary(k) = strcmp (info.stop, "stationary");
    smallest = min (smallest, abs (lambda));
  end
  printf ("%9g %9d of %3d %11.1e %11.1e %11d %8d %13.3g %12.2g\n", distance, ...
          sum (gaps > above), problems, median (gaps), max (gaps), sum (stationary), ...
          sum (stationary & gaps > above), median (far), smallest);
end
