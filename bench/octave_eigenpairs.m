% Several eigenpairs: BrelvaneEigs against eigs and eig in one Octave process,
% with Octave's default BLAS threads.
%
%   octave-cli --no-gui --norc --no-history --path <folder of Brelvane.mex> \
%       --path bench --path tests/gateway bench/octave_eigenpairs.m [quick]
%
% For each pencil: BrelvaneEigs with one thread and with automatic threads,
% every pair to a backward error of 1e-9 (medians of 3, the three calls taken
% in turn with eigs), eigs(P, Q, k, 'sa' or 'la') with its default tolerance, and
% eig(P, Q) once; the sweeps, the largest eigenvalue error against eig
% relative to the largest |eigenvalue|, and the work memory in n*k doubles.
% Pencils: ten-class Fisher (fisher_problem.m, k = 9 lowest), random
% (random_problem.m, k = 5 and 10), the 2-D FEM stiffness and consistent mass
% (fem_pencil.m, k = 6) and CCA of two blocks of 400 (k = 3 largest).
% 'quick' leaves out n = 6000. 'load' instead times Fisher n = 3000 with one
% thread against automatic threads (21 calls each, in turn) while one busy
% loop per processor runs (started here, each ending by itself after 15
% minutes if this script is killed, and stopped at the end).
1;

function row = measure (name, P, Q, k, sigma, runs)
  n = rows (P);
  e = sort (eig (P, Q));  tic;  eig (P, Q);  t_eig = toc;
  if (strcmp (sigma, "largestreal")), want = flipud (e(end-k+1:end)); else, want = e(1:k); end
  eigs_sigma = {"sa", "la"}{1 + strcmp (sigma, "largestreal")};  % Octave 7's eigs words
  t = zeros (runs, 3);
  for r = 1:runs
    tic;  [V1, l1, i1] = BrelvaneEigs (P, Q, k, sigma, "Tolerance", 1e-9, "Threads", 1);  t(r, 1) = toc;
    tic;  [V2, l2, i2] = BrelvaneEigs (P, Q, k, sigma, "Tolerance", 1e-9);  t(r, 2) = toc;
    tic;  d = eigs (P, Q, k, eigs_sigma);  t(r, 3) = toc;
  end
  assert (isequal (V1, V2) && isequal (l1, l2), "threads changed the bits");
  if (strcmp (sigma, "largestreal")), d = sort (d, "descend"); else, d = sort (d); end
  scale = max (abs (e));
  m = median (t, 1);
  kb = i1.blockSize;  kept = 3 * (kb <= 64) + (kb > 64 && kb <= 256);
  row = struct ("name", name, "n", n, "k", k, "one", m(1), "auto", m(2), "eigs", m(3), ...
                "eig", t_eig, "sweeps", i1.sweeps, "threads", i2.threads, ...
                "err", max (abs (l1 - want)) / scale, "err_eigs", max (abs (d - want)) / scale, ...
                "be", max (i1.backwardError), "memory", (2 + kept) * 3 * kb / k);
  printf ("%-22s n=%5d k=%2d | one %7.3f s  auto %7.3f s (%d thr) | eigs %7.3f s  eig %7.2f s | one/eigs %.2f auto/eigs %.2f | sweeps %3d | err %.1e (eigs %.1e) | be %.1e | memory %.0f n*k\n", ...
          name, n, k, m(1), m(2), i2.threads, m(3), t_eig, m(1) / m(3), m(2) / m(3), i1.sweeps, ...
          row.err, row.err_eigs, row.be, row.memory);
  fflush (stdout);
end

if (any (strcmp (argv (), "load")))
  p = fisher_problem (3000, 1);
  pids = [];
  for c = 1:nproc ()
    [~, out] = system ("timeout 900 sh -c 'while :; do :; done' >/dev/null 2>&1 & echo $!");
    pids(end + 1) = str2double (out);
  end
  t = zeros (21, 2);
  for r = 1:21
    tic;  [V1, l1] = BrelvaneEigs (p.P, p.Q, 9, "Tolerance", 1e-9, "Threads", 1);  t(r, 1) = toc;
    tic;  [V2, l2, info] = BrelvaneEigs (p.P, p.Q, 9, "Tolerance", 1e-9);  t(r, 2) = toc;
  end
  for pid = pids
    system (sprintf ("kill %d 2>/dev/null", pid));
  end
  assert (isequal (V1, V2) && isequal (l1, l2), "threads changed the bits");
  m = median (t);
  printf ("Fisher n = 3000, k = 9, one busy loop per processor: one thread %.3f s, automatic %.3f s (most threads %d): automatic/one %.2f (sums %.2f; per pair %.2f-%.2f)\n", ...
          m(1), m(2), info.threads, m(2) / m(1), sum (t(:, 2)) / sum (t(:, 1)), min (t(:, 2) ./ t(:, 1)), max (t(:, 2) ./ t(:, 1)));
  return;
end
quick = any (strcmp (argv (), "quick"));
runs = 3;
sizes = [1000 3000 6000];
if (quick), sizes = [1000 3000]; end
for n = sizes
  p = fisher_problem (n, 1);
  measure (sprintf ("Fisher 10 classes"), p.P, p.Q, 9, "smallestreal", runs);
end
for n = [1000 2000]
  p = random_problem (n, 1);
  for k = [5 10]
    measure ("random", p.P, p.Q, k, "smallestreal", runs);
  end
end
for m = [30 50]
  [K, M] = fem_pencil (m);
  measure ("FEM stiffness/mass", K, M, 6, "smallestreal", runs);
end
% CCA: maximise the correlation a'*Cxy*b with a'*Cxx*a = b'*Cyy*b = 1, the
% largest eigenvalues of [0 Cxy; Cyx 0] v = rho blkdiag(Cxx, Cyy) v.
randn ("seed", 7);  samples = 2000;  latent = randn (samples, 3);
X = latent * randn (3, 400) + randn (samples, 400);
Y = latent * randn (3, 400) + randn (samples, 400);
X -= mean (X);  Y -= mean (Y);
Cxx = X' * X / samples;  Cyy = Y' * Y / samples;  Cxy = X' * Y / samples;
P = [zeros(400) Cxy; Cxy' zeros(400)];  Q = blkdiag (Cxx, Cyy);
measure ("CCA 400 + 400", (P + P') / 2, (Q + Q') / 2, 3, "largestreal", runs);
