% Fisher's linear discriminant as a ratio of quadratics, solved with Brelvane.
%
%   octave-cli --path <folder of Brelvane.mex> examples/fisher_demo.m [output folder]
%
% Two classes of n-dimensional samples; the direction w that separates them
% best maximises the between-class over the within-class scatter,
%   w'*Sb*w / w'*Sw*w,
% so it minimises R(w) = (1/2 w'*(-Sb)*w) / (1/2 w'*Sw*w): P = -Sb, Q = Sw,
% c = d = 0, alpha = beta = 0. The smallest eigenvalue of eig(P, Q) is the
% lowest value R can reach.
%
% Then ten classes, plain against accelerated, all 9 directions at once
% with BrelvaneEigs, and a badly scaled problem.
% Prints one row per iteration count and writes the convergence plot
% fisher_convergence.png (the relative gap (R(x_t) - lambda_min) / |lambda_min|
% against t, from the trace r of [x, r] = Brelvane(...)) into the output
% folder: the variable output_dir if it is set, else the one command-line
% argument, else the current folder.
if ~exist('output_dir', 'var')
  output_dir = '.';
  args = argv();
  if numel(args) == 1 && isfolder(args{1})
    output_dir = args{1};
  end
end

n = 300;
samples = 3000;
rand('seed', 7); randn('seed', 7);
mixing = eye(n) + 0.3 * randn(n) / sqrt(n);
shift = randn(n, 1) / sqrt(n);
a = randn(samples, n) * mixing;
b = randn(samples, n) * mixing + repmat(shift', samples, 1);
ma = mean(a)'; mb = mean(b)';
Sw = (a - ma')' * (a - ma') + (b - mb')' * (b - mb');
Sw = (Sw + Sw') / 2;
Sb = (ma - mb) * (ma - mb)';
P = -Sb; Q = Sw; z = zeros(n, 1);
x0 = ones(n, 1);
counts = [100 300 1000 3000 20000];

ratio = @(x) (x' * P * x) / (x' * Q * x);
lambda = min(eig(P, Q));
Brelvane(x0, P, z, 0, Q, z, 0, n, 0);  % loads the module, outside the timings

printf('Fisher discriminant, %d samples per class; bound = min(eig(P, Q))\n', samples);
printf('%5s %10s %13s %13s %13s %9s %9s\n', 'n', 'iterations', 'R(x0)', 'R(x)', ...
       'bound', 'rel. gap', 'time ms');
for iterations = counts
  tic;
  x = Brelvane(x0, P, z, 0, Q, z, 0, n, iterations);
  elapsed = toc;
  gap = abs(ratio(x) - lambda) / abs(lambda);
  printf('%5d %10d % 13.6e % 13.6e % 13.6e %9.1e %9.2f\n', n, iterations, ratio(x0), ...
         ratio(x), lambda, gap, 1000 * elapsed);
end

% The same descent stopped by a gradient tolerance instead of a count: the
% count, 10^5, is only a cap, and info says where and why the call stopped.
% Without a tolerance (0) it runs until a step changes nothing at all.
printf('\nStopped by GradientTolerance, at most 10^5 iterations; [x, r, info] = Brelvane(...)\n');
printf('%9s %10s %11s %13s %9s %9s\n', 'tolerance', 'info.stop', 'iterations', ...
       'info.gradient', 'rel. gap', 'time ms');
for tolerance = [1e-10 1e-13 0]
  tic;
  [xt, ~, info] = Brelvane(x0, P, z, 0, Q, z, 0, n, 1e5, 'GradientTolerance', tolerance);
  elapsed = toc;
  printf('%9.0e %10s %11d %13.2e %9.1e %9.2f\n', tolerance, info.stop, info.iterations, ...
         info.gradient, abs(ratio(xt) - lambda) / abs(lambda), 1000 * elapsed);
end

% Ten classes instead of two: S_b has rank 9, so the lowest eigenvalues of
% the pencil lie close together and the plain descent needs hundreds of
% sweeps; the Rayleigh-Ritz step at every sweep ('Acceleration', 'ritz')
% cuts that several times, and 'Tolerance' stops the call at a relative
% residual, the way to ask for an answer of a given accuracy.
nm = 600; classes = 10; randn('seed', 11);
labels = mod((0:2*nm-1)', classes) + 1;
means = randn(classes, nm) / sqrt(nm);
Xm = randn(2*nm, nm) * (eye(nm) + 0.3 * randn(nm) / sqrt(nm)) + means(labels, :);
Sm = zeros(nm); Bm = zeros(nm); mu = mean(Xm);
for k = 1:classes
  Xk = Xm(labels == k, :); mk = mean(Xk);
  Sm += (Xk - mk)' * (Xk - mk); Bm += rows(Xk) * (mk - mu)' * (mk - mu);
end
Pm = -(Bm + Bm') / 2; Qm = (Sm + Sm') / 2; zm = zeros(nm, 1); xm0 = ones(nm, 1);
lm = min(eig(Pm, Qm));
gap_m = @(x) abs((x' * Pm * x) / (x' * Qm * x) - lm) / abs(lm);
printf('\nFisher discriminant for %d classes, n = %d; [x, r, info] = Brelvane(..., 4e5, options)\n', ...
       classes, nm);
printf('%-42s %10s %10s %5s %9s %8s\n', 'options', 'info.stop', 'iterations', 'Ritz', ...
       'rel. gap', 'time ms');
calls = {{}, {'Acceleration', 'ritz'}, {'Acceleration', 'ritz', 'Tolerance', 1e-4}, ...
         {'Acceleration', 'ritz', 'Tolerance', 1e-6}};
names = {'(none)', '''Acceleration'', ''ritz''', '''Acceleration'', ''ritz'', ''Tolerance'', 1e-4', ...
         '''Acceleration'', ''ritz'', ''Tolerance'', 1e-6'};
first = zeros(1, 2);
for i = 1:numel(calls)
  tic;
  [xa, ra, info] = Brelvane(xm0, Pm, zm, 0, Qm, zm, 0, nm, 4e5, calls{i}{:});
  elapsed = toc;
  printf('%-42s %10s %10d %5d %9.1e %8.1f\n', names{i}, info.stop, info.iterations, ...
         info.accelerations, gap_m(xa), 1000 * elapsed);
  if i <= 2
    first(i) = find((ra - lm) / abs(lm) <= 1e-10, 1) - 1;
  end
end
printf('iterations to a relative gap of 1e-10, read off r: plain %d (%.0f sweeps), ''ritz'' %d (%.0f)\n', ...
       first(1), first(1) / nm, first(2), first(2) / nm);

% All 9 discriminant directions at once (S_b has rank 9): BrelvaneEigs runs
% one block of vectors, against eig and eigs for the same 9 eigenpairs.
printf('\nAll %d directions: [W, lambda, info] = BrelvaneEigs(P, Q, %d)\n', classes - 1, classes - 1);
tic; em = sort(eig(Pm, Qm)); t_eig = toc;
tic; [Wm, lw, iw] = BrelvaneEigs(Pm, Qm, classes - 1); t_b = toc;
tic; ds = sort(eigs(Pm, Qm, classes - 1, 'sa')); t_eigs = toc;
printf('%-16s %9s %22s %8s\n', 'method', 'time ms', 'max |lambda - eig|', 'sweeps');
printf('%-16s %9.1f %22.1e %8d\n', 'BrelvaneEigs', 1000 * t_b, max(abs(lw - em(1:classes-1))), iw.sweeps);
printf('%-16s %9.1f %22.1e %8s\n', 'eigs(..., ''sa'')', 1000 * t_eigs, max(abs(ds - em(1:classes-1))), '');
printf('%-16s %9.1f %22s %8s\n', 'eig', 1000 * t_eig, '', '');
printf('largest backward error %.1e; max |W''*Q*W - I| = %.1e\n', max(iw.backwardError), ...
       max(max(abs(Wm' * Qm * Wm - eye(classes - 1)))));

% Variables in their own units: the same kind of problem with features
% spanning six orders of magnitude, where the plain choice crawls and the
% diagonal scaling of the choice does not; and the well scaled problem above,
% where both do about as well.
ns = 50; ms = 500;
randn('state', 7);
X = randn(ms, ns) + [ones(ms/2, 1); zeros(ms/2, 1)] * randn(1, ns);
X = X .* 10 .^ linspace(-3, 3, ns);
sa = X(1:ms/2, :); sb = X(ms/2+1:end, :);
msa = mean(sa)'; msb = mean(sb)';
Ss = (sa - msa')' * (sa - msa') + (sb - msb')' * (sb - msb'); Ss = (Ss + Ss') / 2;
Ps = -(msa - msb) * (msa - msb)'; zs = zeros(ns, 1);
problems = {'units 1e-3 .. 1e3', Ps, Ss, ones(ns, 1), zs, ns, min(eig(Ps, Ss)); ...
            'the problem above', P, Q, x0, z, n, lambda};
printf('\n');
printf('Iterations to a relative gap of 1e-10, choice by Scaling (at most 4e5 iterations)\n');
printf('%18s %10s %12s %12s\n', 'problem', 'cond(Q)', '''none''', '''diagonal''');
for i = 1:rows(problems)
  [name, Pi, Qi, xi, zi, ni, li] = problems{i, :};
  reached = zeros(1, 2);
  choices = {'none', 'diagonal'};
  for j = 1:2
    [~, ri] = Brelvane(xi, Pi, zi, 0, Qi, zi, 0, ni, 4e5, 'Scaling', choices{j});
    % The trace starts at iteration 0; -1: never reached.
    first = [find(abs(ri - li) <= 1e-10 * abs(li), 1), 0];
    reached(j) = first(1) - 1;
  end
  printf('%18s %10.1e %12d %12d\n', name, cond(Qi), reached(1), reached(2));
end
printf('\n');

% The trace of the longest run: r(t+1) = R after t iterations, shown as the
% relative gap (R(x_t) - lambda_min) / |lambda_min|. Near the minimum the gap
% falls to the spacing of doubles, eps, and can come out zero or negative,
% which a log axis cannot show; those points are left out, and the axis stops
% a little after the last one shown.
[x, r] = Brelvane(x0, P, z, 0, Q, z, 0, n, counts(end));
t = (0:counts(end))';
above = (r - lambda) / abs(lambda);
above(above <= 0) = NaN;
last = find(~isnan(above), 1, 'last') - 1;
t_end = min(counts(end), 1000 * ceil(1.5 * last / 1000));
shown = counts(counts <= t_end);

warning('off', 'Octave:gnuplot-graphics');
graphics_toolkit('gnuplot');
figure_handle = figure('visible', 'off');
semilogy(t, above, '-', 'linewidth', 1.5, ...
         shown, above(shown + 1), 'o', 'markersize', 6, ...
         [0 t_end], [eps eps], 'k--');
axis([0 t_end 1e-17 1]);
set(gca, 'ytick', 10 .^ (-16:2:0));
grid on;
xlabel('iteration t');
ylabel('(R(x_t) - \lambda_{min}) / |\lambda_{min}|');
legend('from r = the second output', 'iteration counts in the table', 'eps', ...
       'location', 'northeast');
title(sprintf('Fisher discriminant, n = %d, from x_0 = (1, ..., 1)', n));
plot_file = fullfile(output_dir, 'fisher_convergence.png');
print(figure_handle, plot_file, '-dpng', '-S800,500');
close(figure_handle);
printf('convergence plot: %s\n', plot_file);

