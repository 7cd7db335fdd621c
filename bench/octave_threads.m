% Automatic threads against one thread, whole calls in one Octave process,
% taken in turn, in the conditions users have:
%
%   octave-cli --no-gui --norc --no-history --path <folder of Brelvane.mex> \
%     --path bench bench/octave_threads.m [idle | load]
%
% Octave's BLAS keeps its own thread count unless the environment sets it;
% its threads spin for a while after each product, the call's own start-up
% products included. Each figure is the median of 5 calls each way (11 under
% load, where calls vary twofold); "speed" is one thread's time over
% automatic's (above 1: automatic is faster).
% 1. Idle: n = 4000, 20,000 iterations; long calls (200,000 iterations at
%    n = 4000, 50,000 at n = 16000, and the recommended call on the Fisher
%    pencil of n = 6000).
% 2. Under load: one busy loop per processor, started here (each ends by
%    itself after 15 minutes if this script is killed) and stopped at the
%    end; n = 3000 and 4000, 20,000 iterations.
% 3. OMP_NUM_THREADS=8 on this machine: a second Octave, n = 4000, 20,000
%    iterations (it also sets the BLAS's count, as it would for a user).
% Every pair gives the same x bit for bit; info.threads and
% info.sharedIterations are those of the last automatic call. Where an
% earlier build is on the path as BrelvaneBaseline (bench/README.md says how
% to make it), its automatic calls are timed in the same turns ("base").
1;

function t = timed (call)
  tic ();  call ();  t = toc ();
end

function p = dense_problem (n)
  randn ("seed", n);
  A = randn (n);  P = (A + A') / 2;  clear A;
  B = randn (n);  Q = (B + B') / (8 * sqrt (n)) + eye (n);  clear B;
  p = struct ("name", sprintf ("random, n = %d", n), "n", n, "P", P, "Q", Q);
end

function compare (p, count, recommended, runs = 5)
  n = p.n;
  args = {ones(n, 1), p.P, randn(n, 1), 0.25, p.Q, randn(n, 1) / n, 1, n, count};
  if (recommended)
    z = zeros (n, 1);
    args = {ones(n, 1), p.P, z, 0, p.Q, z, 0, n, count, "Acceleration", "ritz", "Tolerance", 1e-6};
  end
  % Both ways with the same options, so that the checks on the input are the same.
  one = {"Threads", 1};  automatic = {"Threads", "automatic"};
  base = exist ("BrelvaneBaseline") == 3;
  t = NaN (runs, 4);
  for run = 1:runs
    t(run, 1) = timed (@() Brelvane (args{:}, one{:}));
    tic ();  [x, ~, info] = Brelvane (args{:}, automatic{:});  t(run, 2) = toc ();
    if (base)
      t(run, 3) = timed (@() BrelvaneBaseline (args{:}, one{:}));
      t(run, 4) = timed (@() BrelvaneBaseline (args{:}, automatic{:}));
    end
  end
  x1 = Brelvane (args{:}, one{:});
  m = 1000 * median (t);
  printf ("%-28s %8d %9.1f %9.1f %6.2f %7d %8d/%-7d %5d %9.1f %9.1f %6.2f\n", p.name, count, ...
          m(1:2), m(1) / m(2), info.threads, info.sharedIterations, info.iterations, ...
          isequal (typecast (x, "uint64"), typecast (x1, "uint64")), m(3:4), m(3) / m(4));
end

function header ()
  printf ("%-28s %8s %9s %9s %6s %7s %16s %5s %9s %9s %6s\n", "problem", "cap", "1 thr ms", ...
          "auto ms", "speed", "threads", "shared/iter.", "same", "base 1 ms", "base auto", ...
          "speed");
end

here = fileparts (mfilename ("fullpath"));
addpath (here);
part = "all";
if (! isempty (argv ()))
  part = argv (){end};
end
blas = getenv ("OPENBLAS_NUM_THREADS");
if (isempty (blas))
  blas = "unset";
end
printf ("OMP_NUM_THREADS %s, OPENBLAS_NUM_THREADS %s, %d processors\n", getenv ("OMP_NUM_THREADS"), ...
        blas, nproc ());

if (strcmp (part, "omp"))
  header ();
  compare (dense_problem (4000), 20000, false);
  return;
end

p4 = dense_problem (4000);
%% 1. Idle
if (any (strcmp (part, {"all", "idle"})))
printf ("\n1. Idle\n");  header ();
compare (p4, 20000, false);
compare (p4, 200000, false);
p = dense_problem (16000);
compare (p, 50000, false);
clear p;
p = fisher_problem (6000, 6);  p.name = "Fisher n = 6000, recommended";
compare (p, 1e6, true);
clear p;
end

%% 2. Under load
if (any (strcmp (part, {"all", "load"})))
printf ("\n2. Under load: one busy loop per processor\n");  header ();
p3 = dense_problem (3000);
pids = [];
unwind_protect
  for k = 1:nproc ()
    [~, out] = system ("timeout 900 sh -c 'while :; do :; done' >/dev/null 2>&1 & echo $!");
    pids(end + 1) = str2double (out);
  end
  compare (p3, 20000, false, 11);
  compare (p4, 20000, false, 11);
unwind_protect_cleanup
  for pid = pids
    system (sprintf ("kill %d 2>/dev/null", pid));
  end
end_unwind_protect
end
if (! strcmp (part, "all"))
  return;
end

%% 3. OMP_NUM_THREADS=8
printf ("\n3. OMP_NUM_THREADS=8\n");
octave = fullfile (OCTAVE_HOME (), "bin", "octave-cli");
system (sprintf ("OMP_NUM_THREADS=8 %s --no-gui --norc --no-history --path %s --path %s %s omp", ...
                 octave, fileparts (which ("Brelvane")), here, [mfilename("fullpath") ".m"]));
