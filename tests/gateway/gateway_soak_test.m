% Soak: 100,000 calls of a small problem and 10,000 calls with bad arguments in
% one Octave process. Every good call gives the same x, every bad call raises
% its Brelvane: error, and the resident memory grows by at most 1 MiB once the
% process has warmed up.
1;

function kib = resident_kib ()
  tokens = regexp (fileread ("/proc/self/status"), 'VmRSS:\s*(\d+)', "tokens", "once");
  kib = str2double (tokens{1});
end

% The problem, and one call per kind of bad argument with the error it raises.
n = 4;
A = [4 1 0 1; 1 5 1 0; 0 1 6 1; 1 0 1 7];
good = {[1; -1; 2; 0.5], A, [1; 0; -1; 2], 0.5, A + 3 * eye(n), [0; 1; 0; 1], 2, n, 20};
with = @(i, value) [good(1:i-1), {value}, good(i+1:end)];
bad = {
  "Brelvane:nargin",     1, good(1:8)
  "Brelvane:nargout",    4, good
  "Brelvane:notDouble",  1, with(2, single (A))
  "Brelvane:complex",    1, with(5, A + 1i)
  "Brelvane:sparse",     1, with(6, sparse ([0; 1; 0; 1]))
  "Brelvane:tooShort",   1, with(3, [1; 2])
  "Brelvane:notNumeric", 1, with(9, "20")
  "Brelvane:notScalar",  1, with(4, [1 2])
  "Brelvane:notFinite",  1, with(8, NaN)
  "Brelvane:outOfRange", 1, with(8, 2^31)
  "Brelvane:outOfRange", 2, with(9, 2^63)
  "Brelvane:unknownOption", 1, [good, {"Tolerence", 1}]
  "Brelvane:badOption",  3, [good, {"GradientTolerance", -1}]
};

want = Brelvane (good{:});
[want_x, want_r] = Brelvane (good{:});
assert (isequal (want, want_x) && numel (want_r) == 21);

function failures = soak (good, bad, want, calls, bad_calls)
  failures = 0;
  for i = 1:calls
    if (mod (i, 2))
      x = Brelvane (good{:});
    else
      % Every output, with a tolerance that never stops: info is a struct,
      % whose values must not leak either.
      [x, r, info] = Brelvane (good{:}, "GradientTolerance", 0);
    end
    if (! isequal (x, want))
      failures += 1;
    end
  end
  kinds = rows (bad);
  for i = 1:bad_calls
    b = bad(mod (i - 1, kinds) + 1, :);
    out = cell (1, b{2});
    try
      [out{:}] = Brelvane (b{3}{:});
      raised = "";
    catch err
      raised = err.identifier;
    end
    if (! strcmp (raised, b{1}))
      printf ("bad call %d: expected %s, got '%s'\n", i, b{1}, raised);
      failures += 1;
    end
  end
end

% Warm-up: Octave's own caches and the allocator's pools settle within the
% first tens of thousands of calls of any function (a builtin grows the
% process by some 600 KiB too), so a fifth of the calls come before the
% first measurement. The rest run in four rounds, each measured.
failures = soak (good, bad, want, 20000, 2000);
before = resident_kib ();
rss = zeros (1, 4);
tic;
for round = 1:4
  failures += soak (good, bad, want, 20000, 2000);
  rss(round) = resident_kib ();
end
seconds = toc;
printf ("soak: 100000 good and 10000 bad calls (%d kinds of error); %.1f s after warm-up\n",
        rows (bad), seconds);
printf (["soak: resident memory %d KiB after warm-up; after each further 20000 + 2000 ", ...
         "calls:%s KiB; growth %d KiB\n"], before, sprintf (" %d", rss), rss(end) - before);
assert (failures == 0, "%d calls gave a wrong result or error", failures);
assert (rss(end) - before <= 1024, "resident memory grew by %d KiB", rss(end) - before);
disp ("gateway soak: all assertions passed");
