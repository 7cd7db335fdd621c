% Brelvane against ratio_descent_reference on random small-integer problems,
% bit for bit: small integers keep the start-up products exact, so the BLAS's
% order of summation cannot make the two differ. Set BRELVANE_SEED to replay.
seed = str2double (getenv ("BRELVANE_SEED"));
if (isnan (seed))
  seed = 20240611;
end
printf ("seed %d\n", seed);
rand ("seed", seed);
small = @(varargin) round (8 * rand (varargin{:})) - 4;  % integers in [-4, 4]

for trial = 1:200
  n = 1 + floor (8 * rand ());
  iterations = floor (15 * rand ());
  A = small (n);  B = small (n);
  if (rand () < 0.8)
    P = A + A.' + diag (1 + floor (6 * rand (n, 1)));
    Q = B + B.' + diag (1 + floor (6 * rand (n, 1)));
  else
    P = A;  Q = B;  % asymmetric: start-up and updates read different triangles
  end
  beta = 1 + floor (6 * rand ());
  args = {small(n, 1), P, small(n, 1), small(1), Q, small(n, 1), beta, n, iterations};
  x = Brelvane (args{:});
  assert_same_doubles (x, ratio_descent_reference (args{:}),
                       sprintf ("seed %d, trial %d (n = %d, iterations = %d)", seed, trial, n, iterations));
end
disp ("gateway reference: 200 random problems agree bit for bit");
