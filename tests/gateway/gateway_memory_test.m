% What a call costs in memory: the iteration count is only a cap. Run under a
% limit on virtual memory of 4 GiB (ulimit -v), which r for a count of 1e9
% (8 GB) cannot fit in.
1;

function kib = peak_kib ()
  tokens = regexp (fileread ("/proc/self/status"), 'VmHWM:\s*(\d+)', "tokens", "once");
  kib = str2double (tokens{1});
end

% Two iterations reach the tolerance: with r and a cap of 1e8 (r for the
% whole cap would take 800 MB), or x alone and a cap of 2^62.
example = {[1; 1], [2 0; 0 4], [1; 0], 1, eye(2), [0; 0], 1, 2};
[x, r, info] = Brelvane (example{:}, 10, "GradientTolerance", 1e-3);  % the module loaded
before = peak_kib ();
tic;
[x, r, info] = Brelvane (example{:}, 1e8, "GradientTolerance", 1e-3);
with_r = toc;
tic;
x = Brelvane (example{:}, 2^62, "GradientTolerance", 1e-3);
alone = toc;
grown = peak_kib () - before;
printf ("cap 1e8 with r: %.2g s; cap 2^62, x alone: %.2g s; peak resident memory %+d KiB\n",
        with_r, alone, grown);
assert (numel (r) == 3 && strcmp (info.stop, "gradient") && info.iterations == 2);
assert (grown < 10240, "the peak resident memory grew by %d KiB", grown);

% A stationary stop fills r out to the full count, which the limit cannot
% hold: our error, not the host's, and nothing is left behind. x alone does
% not need r.
rayleigh = {[1; 1], [2 0; 0 4], [0; 0], 0, eye(2), [0; 0], 0, 2, 1e9};
assert_brelvane_error ("Brelvane:outOfMemory", 2, rayleigh);
assert_same_doubles (Brelvane (rayleigh{:}), [1e-100; 1], "x alone with a cap of 1e9");
disp ("gateway memory: all assertions passed");
