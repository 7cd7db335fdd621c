% check_installed_module (folder): the Brelvane that Octave finds comes from
% folder, answers the worked example, agrees bit for bit with the reference
% descent on random small-integer problems, and has its help text.
function check_installed_module (folder)
  found = which ("Brelvane");
  assert (strncmp (canonicalize_file_name (found), canonicalize_file_name (folder),
                   numel (canonicalize_file_name (folder))),
          "Brelvane comes from %s, not from %s", found, folder);

  [x, r] = Brelvane ([1; 1], diag ([2 4]), [1; 0], 1, eye (2), [0; 0], 1, 2, 10);
  assert (abs (x(1) - (1 - sqrt (3))) <= 4 * eps);
  assert (x(2) == 1e-100);
  assert (size (r), [11, 1]);
  assert_same_doubles (r(1:2), [2.5; 2], "worked example, r");

  % Small integers keep the start-up products exact, so the BLAS's order of
  % summation cannot separate the two; n up to 40 reaches the vector paths.
  seed = 20250101;
  rand ("seed", seed);
  small = @(varargin) round (8 * rand (varargin{:})) - 4;
  for trial = 1:40
    n = 1 + floor (40 * rand ());
    A = small (n);  B = small (n);
    P = A + A.' + diag (1 + floor (6 * rand (n, 1)));
    Q = B + B.' + diag (1 + floor (6 * rand (n, 1)) + 2 * n);
    args = {small(n, 1), P, small(n, 1), small(1), Q, small(n, 1), 1, n, 3 * n};
    assert_same_doubles (Brelvane (args{:}), ratio_descent_reference (args{:}),
                         sprintf ("seed %d, trial %d, n = %d", seed, trial, n));
  end

  text = evalc ("help Brelvane");
  assert (! isempty (strfind (text, "[X, R] = BRELVANE(...)")), "help text missing:\n%s", text);
  printf ("Brelvane from %s: worked example, 40 reference problems and help text pass\n",
          fileparts (found));
end
