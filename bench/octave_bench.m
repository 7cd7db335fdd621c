% Per-iteration time of the Brelvane module against the same algorithm in
% Octave's language, in one Octave process. Per iteration = (t(T) - t(0)) / T,
% each time the best of three runs.
1;

function s = best_seconds (f)
  s = Inf;
  for run = 1:3
    tic ();  f ();  s = min (s, toc ());
  end
end

function per = per_iteration (solve, T)
  per = (best_seconds (@() solve (T)) - best_seconds (@() solve (0))) / T;
end

printf ("%8s %10s %14s %16s %10s\n", "n", "T", "module us/it", "Octave us/it", "ratio");
for n = [64 256 1000 4000]
  rand ("seed", n);
  A = rand (n) - 0.5;  P = A + A';
  B = rand (n) - 0.5;  Q = (B + B') / n + 2 * eye (n);
  x0 = rand (n, 1) - 0.5;  c = rand (n, 1) - 0.5;  d = (rand (n, 1) - 0.5) / n;
  T = max (2000, round (4e6 / n));
  To = max (200, round (T / 20));
  module = @(t) Brelvane (x0, P, c, 0.25, Q, d, 1, n, t);
  script = @(t) octave_language_descent (x0, P, c, 0.25, Q, d, 1, n, t);
  % Same answer but for the start-up products' summation order.
  xm = module (To);  xs = script (To);
  if (norm (xm - xs) > 1e-8 * norm (xs))
    error ("bench:mismatch", "module and Octave-language results differ at n = %d", n);
  end
  perModule = per_iteration (module, T);
  perScript = per_iteration (script, To);
  printf ("%8d %10d %14.3f %16.3f %10.1f\n", n, T, 1e6 * perModule, 1e6 * perScript, ...
          perScript / perModule);
end
