% assert_brelvane_error (id, nout, args)
% Brelvane (args{:}) with nout outputs raises the error id, and Octave can
% still call Brelvane correctly afterwards.
function assert_brelvane_error (id, nout, args)
  outputs = cell (1, nout);
  try
    [outputs{:}] = Brelvane (args{:});
    raised = "";
  catch err
    raised = err.identifier;
  end
  assert (strcmp (raised, id), "expected error %s, got '%s'", id, raised);
  x = Brelvane ([1;2], eye (2), [0;0], 1, zeros (2), [0;0], 1, 2, 2);
  assert_same_doubles (x, [1e-100; 1e-100], ["call after " id]);
end
